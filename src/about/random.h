#pragma once

#include <memory>
#include <random>

namespace kelvara {

// Pseudo-random numbers uniform in [0, 1).
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual double next() = 0;
};

// The real one: a fixed generator that is never seeded, so every start draws the same sequence.
class UnseededRandom : public RandomSource
{
public:
    double next() override;

private:
    std::mt19937 generator_; // default state
};

// The installed source, which the banners draw from.
RandomSource& randomSource();
// Installs `source` for every later draw; nullptr goes back to the real one.
void installRandomSource(std::unique_ptr<RandomSource> source);

} // namespace kelvara
