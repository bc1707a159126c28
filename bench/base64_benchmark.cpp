// Base64 throughput of the plug-in's codec beside OpenSSL's
// (EVP_EncodeBlock / EVP_DecodeBlock), on the same inputs in one run.
//   base64_benchmark [seconds per measurement = 0.3]
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "encoding/base64.h"

namespace {

using Clock = std::chrono::steady_clock;

// MB/s of input processed by run, repeated for about the given time.
template <typename Run>
double Throughput(size_t inputBytes, double seconds, Run run) {
  size_t rounds = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    run();
    ++rounds;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return static_cast<double>(inputBytes) * rounds / elapsed / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.3;
  std::printf("%-8s %-7s %14s %14s %8s\n", "size", "", "plug-in MB/s", "OpenSSL MB/s", "ratio");
  for (const size_t size : {size_t{1} << 10, size_t{64} << 10, size_t{16} << 20}) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(7);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    const size_t textSize = 4 * ((size + 2) / 3);
    std::vector<char> text(textSize + 1);
    std::vector<uint8_t> back(size + 3);
    int32_t length = 0;

    const double ours = Throughput(size, seconds, [&] {
      zvcert::Base64EncodeBuffer(data.data(), static_cast<int32_t>(size), text.data(),
                                 static_cast<int32_t>(textSize), &length);
    });
    const double theirs = Throughput(size, seconds, [&] {
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data.data(),
                      static_cast<int>(size));
    });
    std::printf("%-8zu %-7s %14.0f %14.0f %8.2f\n", size, "encode", ours, theirs, ours / theirs);

    const double oursDecode = Throughput(textSize, seconds, [&] {
      zvcert::Base64DecodeText(text.data(), static_cast<int32_t>(textSize), back.data(),
                               static_cast<int32_t>(back.size()), &length);
    });
    const double theirsDecode = Throughput(textSize, seconds, [&] {
      EVP_DecodeBlock(back.data(), reinterpret_cast<unsigned char*>(text.data()),
                      static_cast<int>(textSize));
    });
    std::printf("%-8zu %-7s %14.0f %14.0f %8.2f\n", size, "decode", oursDecode, theirsDecode,
                oursDecode / theirsDecode);
    if (std::memcmp(back.data(), data.data(), size) != 0) {
      std::puts("decoded bytes differ from the input");
      return 1;
    }
  }
  return 0;
}
