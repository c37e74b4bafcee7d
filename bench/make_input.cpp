// Writes the benchmark's input files, the same bytes on every machine.
//   make_input random BYTES OUT      pseudo-random bytes
//   make_input stress BYTES OUT      S0, S1 records of 16 data bytes (CR LF,
//                                    addresses wrapping every 64 KiB), S9
//   make_input mixed BYTES OUT       as a file damaged and mixed in real life:
//                                    mostly S1 records, with S2 records, lines
//                                    with a wrong checksum or count, a digit
//                                    that is no hex digit, and long lines
//   make_input linefeeds COUNT OUT   nothing but line feeds
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint64_t state = 0x9E3779B97F4A7C15u;

unsigned nextByte() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<unsigned>(state >> 56);
}

// One S-record line of type `type` with CR LF.
std::string record(char type, const unsigned char* bytes, unsigned count) {
    static const char hex[] = "0123456789ABCDEF";
    std::string line = {'S', type};
    unsigned sum = count + 1;
    const auto put = [&](unsigned byte) {
        line += hex[byte >> 4];
        line += hex[byte & 0xF];
    };
    put(count + 1);
    for (unsigned i = 0; i < count; ++i) {
        put(bytes[i]);
        sum += bytes[i];
    }
    put(0xFF - (sum & 0xFF));
    return line + "\r\n";
}

bool stress(std::uint64_t size, std::FILE* out) {
    const unsigned char header[] = {0, 0, 's', 't', 'r', 'e', 's', 's'};
    std::string text = record('0', header, sizeof header);
    unsigned address = 0;
    std::uint64_t written = 0;
    const unsigned char end[] = {0, 0};
    while (written + text.size() < size) {
        unsigned char bytes[18] = {static_cast<unsigned char>(address >> 8),
                                   static_cast<unsigned char>(address & 0xFF)};
        for (int i = 2; i < 18; ++i) {
            bytes[i] = static_cast<unsigned char>(nextByte());
        }
        text += record('1', bytes, sizeof bytes);
        address = (address + 16) & 0xFFFF;
        if (text.size() > (1u << 20)) {
            written += std::fwrite(text.data(), 1, text.size(), out);
            text.clear();
        }
    }
    text += record('9', end, sizeof end);
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

// One line of the mixed input, the `n`th: mostly sound S1 records of 16 data
// bytes; now and then one of 251, split in two records.
std::string mixedLine(std::uint64_t n, unsigned address) {
    unsigned char bytes[256] = {static_cast<unsigned char>(address >> 8),
                                static_cast<unsigned char>(address & 0xFF)};
    for (std::size_t i = 2; i < sizeof bytes; ++i) {
        bytes[i] = static_cast<unsigned char>(nextByte());
    }
    std::string line = record(n % 20 == 3 ? '2' : '1', bytes, n % 97 == 5 ? 253 : 18);
    if (n % 200 == 19) {
        return std::string(600, 'x') + line; // a long line, cut into pieces
    }
    switch (n % 20) {
    case 7:
        line[line.size() - 3] ^= 1; // a wrong checksum
        break;
    case 11:
        line[12] = 'G'; // no hex digit
        break;
    case 15:
        line.insert(10, "00"); // the count disagrees with the length
        break;
    }
    return line;
}

bool mixed(std::uint64_t size, std::FILE* out) {
    std::string text;
    std::uint64_t written = 0;
    for (std::uint64_t n = 0; written + text.size() < size; ++n) {
        text += mixedLine(n, static_cast<unsigned>(n * 16) & 0xFFFF);
        if (text.size() > (1u << 20)) {
            written += std::fwrite(text.data(), 1, text.size(), out);
            text.clear();
        }
    }
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: make_input random|stress|mixed|linefeeds SIZE OUT\n", stderr);
        return 2;
    }
    const std::uint64_t size = std::strtoull(argv[2], nullptr, 10);
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    bool ok = true;
    if (std::strcmp(argv[1], "stress") == 0) {
        ok = stress(size, out);
    } else if (std::strcmp(argv[1], "mixed") == 0) {
        ok = mixed(size, out);
    } else {
        std::string block(1u << 16, '\n');
        for (std::uint64_t left = size; left > 0 && ok;) {
            const std::size_t n =
                left < block.size() ? static_cast<std::size_t>(left) : block.size();
            if (std::strcmp(argv[1], "random") == 0) {
                for (std::size_t i = 0; i < n; ++i) {
                    block[i] = static_cast<char>(nextByte());
                }
            }
            ok = std::fwrite(block.data(), 1, n, out) == n;
            left -= n;
        }
    }
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
