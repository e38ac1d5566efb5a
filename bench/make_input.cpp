// Writes circular-like text for benchmarks and soak runs, the same bytes for the same arguments.
//
//   orbitcsv-make-input sparse|dense SIZE [FILE]
//
// sparse: each element block stands among about 40 lines of observation records, residuals,
//         prose and blank lines, as in circulars.
// dense:  nothing but designation, epoch and element lines.
// SIZE takes a K, M or G suffix (powers of 1024). Output stops at the first block boundary at
// or past SIZE, so every block is whole; the number of blocks goes to standard error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// splitmix64: fast, and the same sequence everywhere.
struct random_stream {
    std::uint64_t state = 0x6f72626974637376;  // fixed seed
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
};

class text_writer {
public:
    explicit text_writer(std::FILE* file) : file_(file) {}
    ~text_writer() { flush(); }

    void put(std::string_view text) {
        if (used_ + text.size() > sizeof buffer_) flush();
        std::memcpy(buffer_ + used_, text.data(), text.size());
        used_ += text.size();
        written_ += text.size();
    }
    void put(char c) { put(std::string_view(&c, 1)); }
    // `width` digits of a random number, with a point after `integer` of them (none if 0).
    void digits(random_stream& random, int width, int integer = 0) {
        for (int i = 0; i < width; ++i) {
            if (integer > 0 && i == integer) put('.');
            put(static_cast<char>('0' + random.below(10)));
        }
    }
    void spaces(int count) {
        for (int i = 0; i < count; ++i) put(' ');
    }
    std::uint64_t written() const { return written_; }
    bool flush() {
        const bool ok = std::fwrite(buffer_, 1, used_, file_) == used_;
        used_ = 0;
        return ok;
    }

private:
    std::FILE* file_;
    char buffer_[1 << 16];
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
};

constexpr std::string_view NAMES[] = {"Eros", "Ceres", "Vesta", "Toutatis", "Marlowe", "Halvorsen",
                                      "Ito", "Foder\xc3\xa0", "Kirkwood", "Ganymed", "Apollo", "Hermes"};
constexpr std::string_view PROSE[] = {
    "Observations received since the last batch, with the orbit solutions that follow.",
    "All elements refer to the equinox J2000.0 and are osculating at the epochs given.",
    "The following object was found on survey frames and identified with an earlier one.",
    "568 Mauna Kea.  Observers J. Halvorsen, R. Ito.  2.2-m f/10 reflector + CCD.",
    "Residuals in seconds of arc",
};

void designation(text_writer& out, random_stream& random) {
    if (random.below(4) == 0) {
        out.put("20");
        out.digits(random, 2);
        out.put(" WQ");
        out.digits(random, 1 + random.below(3));
    } else {
        out.put('(');
        out.digits(random, 1 + random.below(6));
        out.put(") ");
        out.put(NAMES[random.below(std::size(NAMES))]);
    }
    out.put('\n');
    if (random.below(10) == 0) out.put("Id. 2019 LM4\n");
}

void element_block(text_writer& out, random_stream& random) {
    designation(out, random);
    out.put("Epoch 2026 Dec. 17.0 TT = JDT 24");
    out.digits(random, 5);
    out.put(random.below(8) == 0 ? ".25\n" : ".5\n");
    out.put("M ");
    out.digits(random, 8, 3);
    out.put("                    (2000.0)             P               Q\n");
    out.put("n   ");
    out.digits(random, 10, 1);
    out.put("     Peri.  ");
    out.digits(random, 8, 3);
    out.put("    +0.41273645     -0.90984721\n");
    out.put("a   ");
    out.digits(random, 8, 1);
    out.put("      Node   ");
    out.digits(random, 8, 3);
    out.put("    +0.85203301     +0.38772165\n");
    out.put("e   ");
    out.digits(random, 8, 1);
    out.put("      Incl.  ");
    out.digits(random, 7, 2);
    out.put("     +0.32197486     +0.14762093\n");
    out.put("P   ");
    out.digits(random, 3, 1);
    out.put("           H   ");
    out.digits(random, 4, 2);
    out.put("       G   ");
    out.digits(random, 3, 1);
    out.put("      U     2\n");
}

void observation(text_writer& out, random_stream& random) {
    out.put("     K26W");
    out.digits(random, 2);
    out.put("A  C2026 11 ");
    out.digits(random, 7, 2);
    out.put(' ');
    out.digits(random, 2);
    out.put(' ');
    out.digits(random, 2);
    out.put(' ');
    out.digits(random, 4, 2);
    out.put(" +");
    out.digits(random, 2);
    out.put(' ');
    out.digits(random, 2);
    out.put(' ');
    out.digits(random, 3, 2);
    out.spaces(10);
    out.digits(random, 3, 2);
    out.put(" R      568\n");
}

void residuals(text_writer& out, random_stream& random) {
    for (int i = 0; i < 3; ++i) {
        out.put("     2611");
        out.digits(random, 2);
        out.put(" 568  0.");
        out.digits(random, 1);
        out.put("-  0.");
        out.digits(random, 1);
        out.put('+');
    }
    out.put('\n');
}

// About 40 lines of circular around one element block.
void circular_section(text_writer& out, random_stream& random) {
    out.put(PROSE[random.below(std::size(PROSE))]);
    out.put("\n\n");
    for (unsigned n = 20 + random.below(10); n > 0; --n) observation(out, random);
    out.put('\n');
    for (unsigned n = 2 + random.below(3); n > 0; --n) residuals(out, random);
    out.put('\n');
    element_block(out, random);
    out.put("From 1430 observations at 19 oppositions, 1998-2026, mean residual 0\".48.\n\n");
}

bool parse_size(const char* text, std::uint64_t& size) {
    char* end = nullptr;
    size = std::strtoull(text, &end, 10);
    switch (*end) {
        case 'G': size <<= 10; [[fallthrough]];
        case 'M': size <<= 10; [[fallthrough]];
        case 'K': size <<= 10; ++end; break;
        default: break;
    }
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t size = 0;
    const bool sparse = argc > 1 && std::string_view(argv[1]) == "sparse";
    const bool dense = argc > 1 && std::string_view(argv[1]) == "dense";
    if (argc < 3 || (!sparse && !dense) || !parse_size(argv[2], size)) {
        std::fprintf(stderr, "usage: %s sparse|dense SIZE[K|M|G] [FILE]\n", argv[0]);
        return 2;
    }
    std::FILE* file = argc > 3 ? std::fopen(argv[3], "wb") : stdout;
    if (file == nullptr) {
        std::fprintf(stderr, "Cannot open output file %s\n", argv[3]);
        return 2;
    }
    random_stream random;
    std::uint64_t blocks = 0;
    bool ok = true;
    {
        text_writer out(file);
        while (out.written() < size) {
            if (sparse) {
                circular_section(out, random);
            } else {
                element_block(out, random);
            }
            ++blocks;
        }
        ok = out.flush();
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "Cannot write the generated input\n");
        return 2;
    }
    std::fprintf(stderr, "%llu blocks\n", static_cast<unsigned long long>(blocks));
    return 0;
}
