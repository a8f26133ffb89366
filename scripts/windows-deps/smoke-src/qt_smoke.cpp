// Checks the cached Qt build: a widget shown and painted by the platform
// plugin in use, and QtTest's event simulation.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  int failures = 0;
  auto check = [&](bool ok, const char *what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
  };
  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));

  QPushButton button(QStringLiteral("Connect"));
  button.resize(120, 40);
  button.show();
  check(QTest::qWaitForWindowExposed(&button), "window exposed");
  QSignalSpy clicked(&button, &QPushButton::clicked);
  QTest::mouseClick(&button, Qt::LeftButton);
  check(clicked.count() == 1, "click delivered");

  QImage image(208, 320, QImage::Format_RGB32);
  image.fill(Qt::black);
  {
    QPainter painter(&image);
    painter.fillRect(10, 10, 20, 20, Qt::red);
    painter.drawText(40, 40, QStringLiteral("Velarix"));
  }
  check(image.pixelColor(15, 15) == QColor(Qt::red), "raster painting");
  QLabel label;
  label.setPixmap(QPixmap::fromImage(image));
  label.show();
  check(QTest::qWaitForWindowExposed(&label), "label exposed");
  const QImage grabbed = label.grab().toImage();
  check(grabbed.pixelColor(15, 15) == QColor(Qt::red), "widget grab");

  QTcpServer server;
  check(server.listen(QHostAddress::LocalHost), "loopback listen");
  return failures == 0 ? 0 : 1;
}
