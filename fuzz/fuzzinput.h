#ifndef FUZZINPUT_H
#define FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// What the fuzz targets share: reading the input as a stream of bytes, and failing loudly.
namespace FuzzInput {

// An invariant that does not hold stops the run with a crash report.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The fuzzer's input read a byte at a time; past the end it yields zeros.
struct Reader
{
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
};

} // namespace FuzzInput

#endif // FUZZINPUT_H
