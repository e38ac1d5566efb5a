// A byte sink that keeps everything written to it, with the number of writes: for the tests and
// the fuzz targets.
#pragma once

#include "byte_io.hpp"

#include <string>
#include <string_view>

namespace orbitcsv {

struct string_sink final : byte_sink {
    bool write_all(std::string_view bytes) override {
        written += bytes;
        ++writes;
        return true;
    }
    std::string written;
    int writes = 0;
};

}  // namespace orbitcsv
