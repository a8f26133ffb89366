// Unfinished AVI files laid out as the AVI muxer leaves them after a kill: the
// RIFF and frame-list sizes still unknown, no index. Shared by the repair
// tests and the fuzzer's seed generator.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace velarix::test {

// A whole file as bytes, and a file made of exactly these bytes.
inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Le32(std::uint32_t value) {
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

inline std::string Chunk(const std::string& tag, const std::string& body) {
    std::string out = tag + Le32(static_cast<std::uint32_t>(body.size())) + body;
    if (body.size() % 2 != 0) out.push_back('\0');
    return out;
}

inline std::string List(const std::string& type, const std::string& body) {
    return "LIST" + Le32(static_cast<std::uint32_t>(4 + body.size())) + type + body;
}

// `levels` stream lists, each inside the one before.
inline std::string NestedStreamLists(std::uint32_t levels) {
    std::string out;
    out.reserve(std::size_t{12} * levels);
    for (std::uint32_t i = 0; i < levels; ++i)
        out += "LIST" + Le32(4 + 12 * (levels - 1 - i)) + "strl";
    return out;
}

// The header (one video stream; `strlExtra` goes inside its stream list),
// then the frame list with `frames` as its contents.
inline std::string UnfinishedAvi(const std::string& frames, const std::string& strlExtra = {}) {
    const std::string strl = List("strl", Chunk("strh", std::string(56, '\0')) +
                                              Chunk("strf", std::string(40, '\0')) + strlExtra);
    const std::string hdrl = List("hdrl", Chunk("avih", std::string(56, '\0')) + strl);
    return "RIFF" + Le32(0xFFFFFFFFu) + "AVI " + hdrl + "LIST" + Le32(0xFFFFFFFFu) + "movi" +
           frames;
}

// `count` frames of `size` bytes each.
inline std::string Frames(std::uint32_t count, std::uint32_t size) {
    std::string out;
    for (std::uint32_t i = 0; i < count; ++i)
        out += Chunk("00dc", std::string(size, static_cast<char>('a' + i % 26)));
    return out;
}

}  // namespace velarix::test
