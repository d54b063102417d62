// Memory for text that may hold a secret (passwords, SASL and SCRAM
// messages): wiped before it is given back.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// An allocator that overwrites memory with zeros before giving it back, so
// that a string holding a secret leaves no copy behind when it grows or dies.
template <class T> struct wiping_allocator {
    using value_type = T;
    wiping_allocator() = default;
    template <class U> wiping_allocator(const wiping_allocator<U> &) {}
    T *allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T *p, std::size_t n)
    {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U> bool operator==(const wiping_allocator<U> &) const { return true; }
};
// Text that may hold a secret. Its in-object buffer (short strings) is not
// allocated: wipe_secret clears it before the string goes away.
using secret_string = std::basic_string<char, std::char_traits<char>, wiping_allocator<char>>;
inline void wipe_secret(secret_string &s)
{
    OPENSSL_cleanse(s.data(), s.capacity());
    s.clear();
}

// Bytes that may hold a secret (keys, derived passwords, SCRAM proofs). A
// shrinking resize keeps the capacity, so the whole block is still wiped when
// the vector grows or dies.
using secret_bytes = std::vector<unsigned char, wiping_allocator<unsigned char>>;
