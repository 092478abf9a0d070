// Fuzz entry points of the service parsers of outside input: each returns 0 and aborts when
// the parser breaks a promise.
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzXmlDocument(const uint8_t* data, size_t size);
int FuzzAddressLabel(const uint8_t* data, size_t size);
int FuzzProbeReply(const uint8_t* data, size_t size);
int FuzzHostsFile(const uint8_t* data, size_t size);
int FuzzChannelList(const uint8_t* data, size_t size);
int FuzzServiceUrl(const uint8_t* data, size_t size);

// The entry point of a corpus directory name ("xml", "label", "probe-reply", "hosts",
// "channel-list", "service-url"), or null.
using ServiceFuzzTarget = int (*)(const uint8_t*, size_t);
ServiceFuzzTarget ServiceFuzzTargetNamed(const char* name);
