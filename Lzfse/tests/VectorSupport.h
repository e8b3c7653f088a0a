#pragma once

// Access to the shared LZFSE vectors and small helpers the codec's tests share.

#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace lzfse::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string vectorPath(const std::string& name) {
    return std::string(LZFSE_VECTORS_DIR) + "/" + name;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string sha256Hex(const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        hex += buf;
    }
    return hex;
}

// One line of MANIFEST.tsv.
struct Vector {
    std::string file;
    bool valid = false;
    std::uint64_t size = 0;
    std::string expectation;  // SHA-256 of the decoded bytes, or why it must be rejected
    std::string exercises;
};

inline std::vector<Vector> manifest() {
    std::ifstream in(vectorPath("MANIFEST.tsv"));
    std::vector<Vector> vectors;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Vector v;
        std::string kind, size;
        std::getline(fields, v.file, '\t');
        std::getline(fields, kind, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, v.expectation, '\t');
        std::getline(fields, v.exercises, '\t');
        v.valid = kind == "valid";
        v.size = v.valid ? std::stoull(size) : 0;
        vectors.push_back(v);
    }
    return vectors;
}

inline std::uint32_t load32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Block start offsets of a valid stream, walked independently of the decoder.
inline std::vector<std::size_t> blockStarts(const Bytes& s) {
    std::vector<std::size_t> starts;
    std::size_t pos = 0;
    while (pos + 4 <= s.size()) {
        starts.push_back(pos);
        const char* magic = reinterpret_cast<const char*>(s.data() + pos);
        if (std::memcmp(magic, "bvx$", 4) == 0) break;
        if (std::memcmp(magic, "bvx-", 4) == 0) {
            pos += 8 + load32(s, pos + 4);
        } else if (std::memcmp(magic, "bvxn", 4) == 0) {
            pos += 12 + load32(s, pos + 8);
        } else if (std::memcmp(magic, "bvx1", 4) == 0) {
            pos += 772 + std::size_t{load32(s, pos + 20)} + load32(s, pos + 24);
        } else {
            std::uint64_t w0, w1, w2;
            std::memcpy(&w0, s.data() + pos + 8, 8);
            std::memcpy(&w1, s.data() + pos + 16, 8);
            std::memcpy(&w2, s.data() + pos + 24, 8);
            pos += static_cast<std::uint32_t>(w2) + ((w0 >> 20) & 0xFFFFF) + ((w1 >> 40) & 0xFFFFF);
        }
    }
    return starts;
}

// Deterministic pseudo-random numbers (splitmix64).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

private:
    std::uint64_t state_;
};

}  // namespace lzfse::test
