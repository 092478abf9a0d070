// Fuzz entry point of the PE version reader: returns 0, aborts when the reader breaks a
// promise.
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzPeVersion(const uint8_t* data, size_t size);
