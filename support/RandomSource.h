#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <vector>

// Every random choice of the console (statement parameters, the piece sizes of a send, the
// colour of a received report) is one Draw() from a RandomSource. Production code uses one
// SeededRandom, seeded once at start-up; tests script the exact draws with ScriptedRandom and so
// check both the values and the order in which they were drawn.
class RandomSource
{
public:
    static constexpr int kMax = 32767;

    virtual ~RandomSource() = default;

    // One draw in 0..kMax, the range of the C library's rand().
    virtual int Draw() = 0;
};

class SeededRandom final : public RandomSource
{
public:
    explicit SeededRandom(std::uint32_t seed) : m_engine(seed) {}

    int Draw() override { return static_cast<int>(m_engine() % (kMax + 1u)); }

private:
    std::mt19937 m_engine;
};

// Hands out the given values in order. Running out is a test failure, not a silent wrap, so a
// composer that draws more often than its rules allow is caught.
class ScriptedRandom final : public RandomSource
{
public:
    explicit ScriptedRandom(std::vector<int> draws) : m_draws(std::move(draws)) {}
    ScriptedRandom(std::initializer_list<int> draws) : m_draws(draws) {}

    int Draw() override
    {
        if (m_next >= m_draws.size())
            throw std::out_of_range("ScriptedRandom: more draws than scripted");
        return m_draws[m_next++];
    }

    std::size_t Drawn() const { return m_next; }
    std::size_t Remaining() const { return m_draws.size() - m_next; }

private:
    std::vector<int> m_draws;
    std::size_t m_next = 0;
};
