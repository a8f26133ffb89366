// The screenshot save dialog, driven offscreen: what it starts with and what
// it hands back when accepted or cancelled.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>

#include "TempDir.h"
#include "capture/ScreenshotDialog.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;

class ScreenshotDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The widget dialog, whatever platform theme the machine has, so the
        // test can reach it.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    }
    void TearDown() override { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, false); }

    // Runs the dialog and lets `drive` act on it once it is up.
    std::optional<SaveDialogResult> Run(const SaveDialogRequest& request,
                                        std::function<void(QFileDialog&)> drive) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, drive] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (dialog && dialog->isVisible()) {
                    poll->stop();
                    poll->deleteLater();
                    drive(*dialog);
                    return;
                }
            }
        });
        poll->start(0);
        return RunScreenshotSaveDialog(nullptr, request);
    }

    test::TempDir temp_{"velarix-dialog"};
    std::string dir_ = temp_.String();
};

TEST_F(ScreenshotDialogTest, StartsAsRequestedAndReturnsTheTypedName) {
    const auto result = Run({"", kFormatJpeg, dir_}, [&](QFileDialog& d) {
        EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(d.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(d.defaultSuffix().isEmpty());
        EXPECT_EQ(d.nameFilters(), (QStringList{"BMP (*.bmp)", "JPEG (*.jpg)", "PNG (*.png)"}));
        EXPECT_EQ(d.selectedNameFilter(), "JPEG (*.jpg)");
        EXPECT_EQ(QDir(d.directory()).canonicalPath(),
                  QDir(QString::fromStdString(dir_)).canonicalPath());
        d.selectFile("shot");
        static_cast<QDialog&>(d).accept();  // QFileDialog::accept, as the Save button calls it
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(fs::path(result->path), fs::path(dir_) / "shot");  // no extension added
    EXPECT_EQ(result->typeIndex, kFormatJpeg);
}

TEST_F(ScreenshotDialogTest, OffersTheSuggestedNameInItsFolder) {
    fs::create_directory(fs::path(dir_) / "sub");
    const std::string offered = (fs::path(dir_) / "sub" / "img8.png").string();
    const auto result = Run({offered, kFormatPng, dir_}, [&](QFileDialog& d) {
        EXPECT_EQ(QDir(d.directory()).canonicalPath(),
                  QDir(QString::fromStdString(dir_ + "/sub")).canonicalPath());
        static_cast<QDialog&>(d).accept();  // QFileDialog::accept, as the Save button calls it
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->path, offered);
    EXPECT_EQ(result->typeIndex, kFormatPng);
}

TEST_F(ScreenshotDialogTest, StrayTypeSelectsBmpAndSelectedTypeComesBack) {
    const auto result = Run({"", 9, dir_}, [&](QFileDialog& d) {
        EXPECT_EQ(d.selectedNameFilter(), "BMP (*.bmp)");
        d.selectNameFilter("PNG (*.png)");
        d.selectFile("pic");
        static_cast<QDialog&>(d).accept();  // QFileDialog::accept, as the Save button calls it
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->typeIndex, kFormatPng);
}

TEST_F(ScreenshotDialogTest, CancelGivesNothing) {
    const auto result = Run({"", kFormatBmp, dir_}, [](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(result.has_value());
}

}  // namespace
}  // namespace velarix
