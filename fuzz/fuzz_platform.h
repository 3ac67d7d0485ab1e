// A platform backend whose every answer comes from the fuzzer's input: interface lists,
// their paths, identities, report lengths, write and read outcomes and the answers' bytes.
#pragma once

#include <cstddef>
#include <cstdint>

void FuzzPlatformStart(const std::uint8_t* data, std::size_t size);
// Handles and lists the logic obtained and has not released.
int FuzzPlatformOpenHandles();
int FuzzPlatformOpenLists();
int FuzzPlatformClaims();
std::uint8_t FuzzByte();
