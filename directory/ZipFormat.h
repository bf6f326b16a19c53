// The record signatures and field values of the ZIP format that our writer and
// our reader share.
#pragma once
#include <cstdint>

namespace zipformat {
constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kZip64EndSig = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kDeflate = 8;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;  // a value this large is a Zip64 sentinel
constexpr std::uint16_t kMax16 = 0xFFFF;
}  // namespace zipformat
