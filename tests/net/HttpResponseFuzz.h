// Fuzz entry point of the HTTP response reader: returns 0, aborts when the reader breaks a
// promise (a limit passed, bytes taken past the end, a result that depends on the pieces).
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzHttpResponse(const uint8_t* data, size_t size);
