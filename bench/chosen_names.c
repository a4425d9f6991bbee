/* Prints COUNT user names chosen to share their slot's low BITS bits under
 * the index's former hash (FNV-1a, unkeyed), one "name:secret" line each:
 * the input an attacker would give users-import, or put in a file.
 *   chosen_names COUNT [BITS]   (BITS 15) */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static uint64_t Step(uint64_t hash, unsigned char byte) {
  return (hash ^ byte) * 1099511628211u;
}

int main(int argc, char** argv) {
  static const char kHex[] = "0123456789abcdef";
  long count = argc > 1 ? atol(argv[1]) : 200000;
  int bits = argc > 2 ? atoi(argv[2]) : 15;
  uint64_t mask = (UINT64_C(1) << bits) - 1;
  long found = 0;
  for (uint32_t prefix = 0; found < count; ++prefix) {
    char name[16];
    uint64_t hash = 14695981039346656037u;
    snprintf(name, sizeof name, "c%07x", prefix);
    for (int i = 0; i < 8; ++i) hash = Step(hash, (unsigned char)name[i]);
    for (int a = 0; a < 16 && found < count; ++a) {
      uint64_t ha = Step(hash, (unsigned char)kHex[a]);
      for (int b = 0; b < 16 && found < count; ++b) {
        uint64_t hb = Step(ha, (unsigned char)kHex[b]);
        for (int c = 0; c < 16 && found < count; ++c) {
          uint64_t h = Step(hb, (unsigned char)kHex[c]);
          if (((h ^ (h >> 29)) & mask) == 0) {
            printf("%s%c%c%c:secret\n", name, kHex[a], kHex[b], kHex[c]);
            ++found;
          }
        }
      }
    }
  }
  return 0;
}
