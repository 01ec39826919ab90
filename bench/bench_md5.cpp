// MD5 throughput against libcrypto's MD5 in the same process (when its
// headers are installed), and the same bytes through `openssl dgst -md5` (that
// run includes its process start and reading the file from the page cache;
// its time is reported per byte like ours).
#include "bench/bench_budget.h"
#include "pbd/jlib/jlib_md5.h"

#include <benchmark/benchmark.h>

#ifdef QUILLON_BENCH_LIBCRYPTO
#include <openssl/evp.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> data(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return bytes;
}

void BM_Md5(benchmark::State& state)
{
    const auto bytes = data(static_cast<size_t>(state.range(0)));
    uint8_t digest[16];
    for (auto _ : state) {
        jlib_md5_ctx context;
        jlib_md5Init(&context);
        jlib_md5Update(&context, bytes.data(), bytes.size());
        jlib_md5Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5)->Arg(64)->Arg(4096)->Arg(64 << 20);

#ifdef QUILLON_BENCH_LIBCRYPTO
void BM_LibcryptoMd5(benchmark::State& state)
{
    const auto bytes = data(static_cast<size_t>(state.range(0)));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    // Fetched once: EVP_md5() makes OpenSSL 3 look the algorithm up again
    // on every init, which a caller that hashes many small inputs avoids.
    EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    for (auto _ : state) {
        EVP_DigestInit_ex(context, md5, nullptr);
        EVP_DigestUpdate(context, bytes.data(), bytes.size());
        EVP_DigestFinal_ex(context, digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    EVP_MD_free(md5);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_LibcryptoMd5)->Arg(64)->Arg(4096)->Arg(64 << 20);
#endif

void BM_OpensslDgstMd5(benchmark::State& state)
{
    const size_t length = static_cast<size_t>(state.range(0));
    char path[] = "/tmp/bench_md5_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    const auto bytes = data(length);
    const bool written = write(fd, bytes.data(), length) == static_cast<ssize_t>(length);
    close(fd);
    const std::string command = std::string("openssl dgst -md5 ") + path + " > /dev/null";
    if (!written || std::system(command.c_str()) != 0) {
        unlink(path);
        state.SkipWithError("openssl dgst failed");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int rc = std::system(command.c_str());
        const auto end = std::chrono::steady_clock::now();
        if (rc != 0) {
            state.SkipWithError("openssl dgst failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    unlink(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpensslDgstMd5)->Arg(64 << 20)->UseManualTime()->Iterations(benchbudget::rounds(5));

} // namespace

BENCHMARK_MAIN();
