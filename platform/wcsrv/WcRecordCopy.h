// Copies and clears of whole fixed-layout records in 16-byte pieces.
//
// GCC compiles a memcpy or memset of a few hundred constant bytes into
// `rep movsq` / `rep stosq`, whose start-up on common x86 cores costs more
// than moving the bytes. A walk of the file base clears, fills and copies
// every record it delivers, so these few instructions show in its time.
// The piecewise loop below stays plain vector loads and stores.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace wcstore
{

template <typename T> inline void CopyRecord(T* to, const T* from)
{
    static_assert(std::is_trivially_copyable_v<T>);
    constexpr size_t kPiece = 16;
    auto* d = reinterpret_cast<unsigned char*>(to);
    const auto* s = reinterpret_cast<const unsigned char*>(from);
    size_t at = 0;
    for (; at + kPiece <= sizeof(T); at += kPiece)
        std::memcpy(d + at, s + at, kPiece);
    std::memcpy(d + at, s + at, sizeof(T) - at);
}

template <typename T> inline void ClearRecord(T* to)
{
    static_assert(std::is_trivially_copyable_v<T>);
    constexpr size_t kPiece = 16;
    auto* d = reinterpret_cast<unsigned char*>(to);
    unsigned char zero[kPiece] = {};
    // The compiler must not know the piece holds zeros, or it turns the
    // loop back into a memset (and so into `rep stosq`).
    asm("" : "+m"(zero));
    size_t at = 0;
    for (; at + kPiece <= sizeof(T); at += kPiece)
        std::memcpy(d + at, zero, kPiece);
    std::memcpy(d + at, zero, sizeof(T) - at);
}

} // namespace wcstore
