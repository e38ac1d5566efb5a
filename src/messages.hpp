// The program's messages, with %s where a file name goes, and how they are put together. The
// command-line program writes them to standard error, the page shows them.
#pragma once

#include "byte_io.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace orbitcsv::messages {

// The exit status of a run that wrote its summary line, and of one that wrote a message.
inline constexpr int STATUS_DONE = 0;
inline constexpr int STATUS_FAILED = 2;

inline constexpr std::string_view CANNOT_OPEN_INPUT = "Cannot open input file %s\n";
inline constexpr std::string_view CANNOT_OPEN_OUTPUT = "Cannot open output file %s\n";
inline constexpr std::string_view OUTPUT_IS_INPUT = "Output file %s is the input file\n";
inline constexpr std::string_view CANNOT_READ_INPUT = "Cannot read input file %s\n";
inline constexpr std::string_view CANNOT_READ_STDIN = "Cannot read standard input\n";
inline constexpr std::string_view CANNOT_WRITE_OUTPUT = "Cannot write output file %s\n";
inline constexpr std::string_view CANNOT_WRITE_STDOUT = "Cannot write standard output\n";

// Writes `format` with `name` where its %s stands. The message is put together in `scratch` and
// written at once; only one too long for it (a file name of thousands of bytes) goes in pieces.
// A failed write is not reported: there is nobody left to tell.
void write_message(byte_sink& to, std::string_view format, std::string_view name, std::span<char> scratch);

// "N records written.", or "1 record written.", and its newline.
void write_summary(byte_sink& to, std::int64_t records, std::span<char> scratch);

}  // namespace orbitcsv::messages
