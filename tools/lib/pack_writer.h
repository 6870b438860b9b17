// Writing pack files: the format that storage/ reads (begin tag, header, stored blocks, stored
// directory, trailer), and the LZSS encoder for packing method 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How each block is stored: method 0, a zlib stream (method 1), an LZSS stream (method 3), or the
// smallest of the three for each block.
enum class PackMethod { stored, zlib, lzss, best };

struct PackItem {
  std::string name;  // stored as given; the reader matches names without regard to ASCII case
  std::vector<uint8_t> bytes;
};

// A whole pack image: begin tag at 0, trailer at the end, so it mounts at offset 0 and also when
// appended to another file. Items keep their order in the directory.
std::vector<uint8_t> makePack(const std::vector<PackItem>& items, PackMethod method);
// makePack written to `path`; false with a message in `error` (if given) when the file cannot be written.
bool writePack(const std::string& path, const std::vector<PackItem>& items, PackMethod method,
               std::string* error);

// The LZSS stream that lzssDecode reads (4096-byte window, lengths 3..18), with the cheapest parse
// that the longest match at each position allows.
std::vector<uint8_t> lzssEncode(const uint8_t* data, size_t size);
// Packs one block: the stored bytes and the method word that makePack records for it.
std::vector<uint8_t> packBlock(const std::vector<uint8_t>& bytes, PackMethod method, int32_t* method_word);
