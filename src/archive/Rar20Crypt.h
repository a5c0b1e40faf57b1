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
        return wide[0][value & 0xff] | wide[1][(value >> 8) & 0xff] | wide[2][(value >> 16) & 0xff] |
               wide[3][value >> 24];
    }
    void buildWideTable();
    template <int N> void decryptBlocks(uint8_t* blocks);

    uint32_t keys[4];
    uint8_t subst[256];
    // The byte substitution pre-shifted into each byte lane (4 KiB, stays in L1).
    uint32_t wide[4][256];
};

} // namespace rar
