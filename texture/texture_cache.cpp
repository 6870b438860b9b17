// The texture cache: a list of named textures with reference counts, consulted before a picture is
// decoded. Nothing in the show adds to it, so every lookup misses and every request decodes anew.
#include <cstring>

#include "texture/texture.h"

TextureCacheEntry* texture_cache = nullptr;

uint32_t textureNameHash(const char* name) {
  // Arithmetic shift right, shift left modulo 2^32, sum, then XOR with the byte taken as signed: bytes
  // from 0x80 up flip the upper bits too. Unsigned arithmetic keeps the wrap-around defined.
  int32_t hash = 0;
  for (const char* c = name; *c; ++c) {
    uint32_t mixed = uint32_t(hash >> 17) + (uint32_t(hash) << 17);
    hash = int32_t(mixed ^ uint32_t(int32_t(static_cast<signed char>(*c))));
  }
  return uint32_t(hash);
}

IDirectDrawSurface7* textureCacheFind(const char* name) {
  uint32_t hash = textureNameHash(name);
  for (TextureCacheEntry* entry = texture_cache; entry; entry = entry->next) {
    if (entry->name_hash == hash && std::strcmp(entry->name, name) == 0) {
      ++entry->reference_count;
      return entry->texture;
    }
  }
  return nullptr;
}
