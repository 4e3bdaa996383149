#pragma once

#include <array>
#include <cstddef>

constexpr std::size_t creditCount = 110;
extern const std::array<const char*, creditCount> credits;
