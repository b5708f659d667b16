// SPDX-License-Identifier: BSD-3-Clause
// The texts the codec and its callers report to users.
#pragma once

namespace kpz::msg {

inline constexpr const char* kOpenSourceFailed = "Couldn't open source file!";
inline constexpr const char* kOpenDestinationFailed = "Couldn't open destination file!";
inline constexpr const char* kSourceReadError = "Source read error!";
inline constexpr const char* kWriteFailed = "Couldn't write to destination file!";
inline constexpr const char* kUnknownFormat = "Unknown file format!";
inline constexpr const char* kDamaged = "Compressed file is damaged or truncated!";
inline constexpr const char* kTooLarge = "Source file is too large (4 GB or more)!";
inline constexpr const char* kSameFile = "Destination would replace the source file!";
// A protected file whose payload runs out before its stored size: far more often the wrong
// password (its scrambled block headers ask for more bits than there are) than damage.
inline constexpr const char* kWrongPasswordOrDamaged =
    "Wrong password, or compressed file is damaged or truncated!";
// The start of the message for a second file of a batch with the same output; the first
// file's name and "'!" follow.
inline constexpr const char* kAlreadyWrittenFrom = "Destination was already written from '";
inline constexpr const char* kNameTooLong = "Source file name is too long!";

} // namespace kpz::msg
