// The RAR 2.0 block cipher: 16-byte blocks, 32 rounds, keys that evolve with the ciphertext.
// A fresh key schedule is set up for every member from the archive password.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rar {

class Rar20Cipher {
public:
    explicit Rar20Cipher(const char* password);

    // Both work in place on whole 16-byte blocks; `size` must be a multiple of 16.
    void encrypt(uint8_t* data, size_t size);
    void decrypt(uint8_t* data, size_t size);

private:
    void encryptBlock(uint8_t* block);
    void decryptBlock(uint8_t* block);
    void updateKeys(const uint8_t* cipherBlock);
    uint32_t substitute(uint32_t value) const {
        return static_cast<uint32_t>(subst16[value & 0xffff]) | (static_cast<uint32_t>(subst16[value >> 16]) << 16);
    }
    void buildWideTable();

    uint32_t keys[4];
    uint8_t subst[256];
    // The byte substitution applied to two bytes at once: half the table look-ups per round.
    uint16_t subst16[65536];
};

} // namespace rar
