#pragma once

// Access to the shared LZFSE vectors and small helpers the codec's tests share.

#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
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

inline bool fileExists(const std::string& path) {
    return std::ifstream(path).good();
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
