// The boxes one by one, for the programs that handle several at once. Apart from the search of
// device/discovery.h because it speaks in the standard library's strings and vectors, which the
// dialog, searching for one box, does without (they bring the exception machinery into its exe).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "device/device_record.h"

// The paths of every box attached, in the search's order, whether or not it is free: DEV_OK, or
// DEV_ERR_UNUSABLE when there is no list. Where the system does not name an interface's IDs
// (Windows), each one is opened for them, except those in `known`: boxes the caller listed
// before, which stay boxes for as long as their path is listed (a box being written is not
// opened again four times a second).
std::int32_t ListBoxes(std::vector<std::u16string>* paths, const std::set<std::u16string>* known = nullptr);
// Resets the record, then opens, claims and queries the box listed at `path`, as FindDevice does
// the first free one: DEV_OK; DEV_ERR_BUSY, DEV_ERR_DENIED; DEV_ERR_NOT_FOUND for a box that has
// gone; or the failed query's result, with the box left open and claimed.
std::int32_t TakeBox(const std::u16string& path, DeviceRecord& record);
