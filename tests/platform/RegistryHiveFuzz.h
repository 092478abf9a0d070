// Fuzz entry point of the hive parser: returns 0, aborts when the parser breaks a promise.
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzRegistryHive(const uint8_t* data, size_t size);
