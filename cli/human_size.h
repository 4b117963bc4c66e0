// Sizes as people read them: bytes below 1 KiB, above it one decimal place with the binary
// unit that keeps the figure below 1024 (KiB, MiB, GiB, TiB).
#pragma once

#include <cstdint>
#include <string>

std::string HumanSize(uint64_t bytes);
