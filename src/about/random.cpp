#include "random.h"

namespace kelvara {

double UnseededRandom::next()
{
    // 32 random bits over 2^32: never 1.0, which a floating-point distribution may round up to.
    return double(generator_()) * 0x1p-32;
}

namespace {

std::unique_ptr<RandomSource>& installed()
{
    static std::unique_ptr<RandomSource> source = std::make_unique<UnseededRandom>();
    return source;
}

} // namespace

RandomSource& randomSource()
{
    return *installed();
}

void installRandomSource(std::unique_ptr<RandomSource> source)
{
    installed() = source ? std::move(source) : std::make_unique<UnseededRandom>();
}

} // namespace kelvara
