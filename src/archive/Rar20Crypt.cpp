#include "archive/Rar20Crypt.h"

#include "archive/Crc32.h"

#include <cstring>
#include <utility>

namespace rar {

namespace {

// Initial substitution table of the RAR 2.0 cipher (a constant of the format).
const uint8_t kInitialSubst[256] = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,  232, 1,   177, 233,
    14,  88,  219, 25,  223, 195, 244, 90,  87,  239, 153, 137, 255, 199, 147, 70,  92,  66,  246, 13,
    216, 40,  62,  29,  217, 230, 86,  6,   71,  24,  171, 196, 101, 113, 218, 123, 93,  91,  163, 178,
    202, 67,  44,  235, 107, 250, 75,  234, 49,  167, 125, 211, 83,  114, 157, 144, 32,  193, 143, 36,
    158, 124, 247, 187, 89,  214, 141, 47,  121, 228, 61,  130, 213, 194, 174, 251, 97,  110, 54,  229,
    115, 57,  152, 94,  105, 243, 212, 55,  209, 245, 63,  11,  164, 200, 31,  156, 81,  176, 227, 21,
    76,  99,  139, 188, 127, 17,  248, 51,  207, 120, 189, 210, 8,   226, 41,  72,  183, 203, 135, 165,
    166, 60,  98,  7,   122, 38,  155, 170, 69,  172, 252, 238, 39,  134, 59,  128, 236, 27,  240, 80,
    131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201, 133, 74,  64,  20,  129, 224, 185, 138, 103,
    173, 182, 43,  34,  254, 82,  198, 151, 231, 180, 58,  10,  118, 26,  102, 12,  50,  132, 22,  191,
    136, 111, 162, 179, 45,  4,   148, 108, 161, 56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241,
    181, 190, 77,  225, 0,   46,  169, 186, 68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,
    116, 184, 160, 96,  109, 37,  30,  106, 140, 104, 150, 5,   204, 117, 112, 84};

inline uint32_t load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

constexpr int kRounds = 32;

} // namespace

Rar20Cipher::Rar20Cipher(const char* password) {
    keys[0] = 0xD3A3B879u;
    keys[1] = 0x3F6D12F7u;
    keys[2] = 0x7515A235u;
    keys[3] = 0xA4E7F123u;
    memcpy(subst, kInitialSubst, sizeof(subst));

    // The password is taken zero-padded, so an odd length pairs its last byte with a zero.
    uint8_t psw[128] = {};
    size_t length = password ? strlen(password) : 0;
    if (length > sizeof(psw) - 1) length = sizeof(psw) - 1;
    if (length) memcpy(psw, password, length);

    const uint32_t* crc = crcTable();
    for (unsigned j = 0; j < 256; ++j) {
        for (size_t i = 0; i < length; i += 2) {
            unsigned n1 = crc[(psw[i] - j) & 0xff] & 0xff;
            unsigned n2 = crc[(psw[i + 1] + j) & 0xff] & 0xff;
            for (unsigned k = 1; n1 != n2; n1 = (n1 + 1) & 0xff, ++k)
                std::swap(subst[n1], subst[(n1 + i + k) & 0xff]);
        }
    }
    buildWideTable();
    // Encrypting the password itself stirs the keys.
    for (size_t i = 0; i < length; i += 16)
        encryptBlock(psw + i);
}

void Rar20Cipher::buildWideTable() {
    for (int lane = 0; lane < 4; ++lane)
        for (int v = 0; v < 256; ++v)
            wide[lane][v] = static_cast<uint32_t>(subst[v]) << (8 * lane);
}

void Rar20Cipher::updateKeys(const uint8_t* block) {
    const uint32_t* crc = crcTable();
    for (int i = 0; i < 16; i += 4) {
        keys[0] ^= crc[block[i]];
        keys[1] ^= crc[block[i + 1]];
        keys[2] ^= crc[block[i + 2]];
        keys[3] ^= crc[block[i + 3]];
    }
}

void Rar20Cipher::encryptBlock(uint8_t* buf) {
    uint32_t a = load32(buf) ^ keys[0], b = load32(buf + 4) ^ keys[1];
    uint32_t c = load32(buf + 8) ^ keys[2], d = load32(buf + 12) ^ keys[3];
    for (int i = 0; i < kRounds; ++i) {
        uint32_t key = keys[i & 3];
        uint32_t ta = a ^ substitute((c + rotl(d, 11)) ^ key);
        uint32_t tb = b ^ substitute((d ^ rotl(c, 17)) + key);
        a = c;
        b = d;
        c = ta;
        d = tb;
    }
    store32(buf, c ^ keys[0]);
    store32(buf + 4, d ^ keys[1]);
    store32(buf + 8, a ^ keys[2]);
    store32(buf + 12, b ^ keys[3]);
    updateKeys(buf);
}

void Rar20Cipher::decryptBlock(uint8_t* buf) {
    uint8_t cipher[16];
    memcpy(cipher, buf, 16);
    uint32_t a = load32(buf) ^ keys[0], b = load32(buf + 4) ^ keys[1];
    uint32_t c = load32(buf + 8) ^ keys[2], d = load32(buf + 12) ^ keys[3];
    for (int i = kRounds - 1; i >= 0; --i) {
        uint32_t key = keys[i & 3];
        uint32_t ta = a ^ substitute((c + rotl(d, 11)) ^ key);
        uint32_t tb = b ^ substitute((d ^ rotl(c, 17)) + key);
        a = c;
        b = d;
        c = ta;
        d = tb;
    }
    store32(buf, c ^ keys[0]);
    store32(buf + 4, d ^ keys[1]);
    store32(buf + 8, a ^ keys[2]);
    store32(buf + 12, b ^ keys[3]);
    updateKeys(cipher);
}

void Rar20Cipher::encrypt(uint8_t* data, size_t size) {
    for (size_t i = 0; i + 16 <= size; i += 16)
        encryptBlock(data + i);
}

// The keys of each block depend only on the ciphertext before it, so several blocks can be
// deciphered side by side: the rounds of one block are a serial chain of table look-ups, and
// interleaving independent chains keeps the CPU busy.
template <int N> void Rar20Cipher::decryptBlocks(uint8_t* buf) {
    uint32_t k[N][4];
    uint32_t a[N], b[N], c[N], d[N];
    for (int n = 0; n < N; ++n) {
        memcpy(k[n], keys, sizeof(keys));
        updateKeys(buf + 16 * n);
    }
    for (int n = 0; n < N; ++n) {
        const uint8_t* p = buf + 16 * n;
        a[n] = load32(p) ^ k[n][0];
        b[n] = load32(p + 4) ^ k[n][1];
        c[n] = load32(p + 8) ^ k[n][2];
        d[n] = load32(p + 12) ^ k[n][3];
    }
    for (int i = kRounds - 1; i >= 0; --i) {
        for (int n = 0; n < N; ++n) {
            uint32_t key = k[n][i & 3];
            uint32_t ta = a[n] ^ substitute((c[n] + rotl(d[n], 11)) ^ key);
            uint32_t tb = b[n] ^ substitute((d[n] ^ rotl(c[n], 17)) + key);
            a[n] = c[n];
            b[n] = d[n];
            c[n] = ta;
            d[n] = tb;
        }
    }
    for (int n = 0; n < N; ++n) {
        uint8_t* p = buf + 16 * n;
        store32(p, c[n] ^ k[n][0]);
        store32(p + 4, d[n] ^ k[n][1]);
        store32(p + 8, a[n] ^ k[n][2]);
        store32(p + 12, b[n] ^ k[n][3]);
    }
}

void Rar20Cipher::decrypt(uint8_t* data, size_t size) {
    size_t i = 0;
    for (; i + 64 <= size; i += 64)
        decryptBlocks<4>(data + i);
    for (; i + 16 <= size; i += 16)
        decryptBlock(data + i);
}

} // namespace rar
