#include "engine/DeflatePiece.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>

namespace qv::packing {
namespace {

// The bit at which a complete raw deflate stream's last block starts, and
// the number of unused (zero) bits in its last byte. False when the bytes
// are not exactly one stream.
bool FindLastBlock(const std::vector<uint8_t>& stream, uint64_t& lastHeaderBit, int& unusedBits) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  std::array<uint8_t, 64 * 1024> sink{};
  lastHeaderBit = 0;
  bool endOfLast = false, ok = false;
  for (;;) {
    z.next_out = sink.data();
    z.avail_out = static_cast<uInt>(sink.size());
    // Z_BLOCK stops at each block's end, before the next header is read;
    // data_type then holds the unused bits of the last byte read (below 8),
    // 64 when the block that ended was the last, 128 at such a stop.
    int r = inflate(&z, Z_BLOCK);
    if (r == Z_STREAM_END) {
      ok = endOfLast && z.avail_in == 0;
      break;
    }
    if (r != Z_OK && !(r == Z_BUF_ERROR && z.avail_out == 0)) break;
    if (!(z.data_type & 128)) continue;
    if (z.data_type & 64) {
      // The last block ended; inflate drops the rest of the byte after this.
      unusedBits = z.data_type & 7;
      endOfLast = true;
    } else {
      lastHeaderBit = uint64_t{z.total_in} * 8 - static_cast<uint64_t>(z.data_type & 7);
    }
  }
  inflateEnd(&z);
  return ok;
}

}  // namespace

struct PieceDeflater::Impl {
  libdeflate_compressor* c = nullptr;
  ~Impl() {
    if (c) libdeflate_free_compressor(c);
  }
};

PieceDeflater::PieceDeflater(int level) : impl_(std::make_unique<Impl>()) {
  impl_->c = libdeflate_alloc_compressor(std::clamp(level, 1, 9));
}

PieceDeflater::~PieceDeflater() = default;

bool PieceDeflater::Run(const uint8_t* data, size_t n, bool last, std::vector<uint8_t>& out) {
  if (!impl_->c) return false;
  // Room for the stream and for the empty stored block that may follow it.
  out.resize(libdeflate_deflate_compress_bound(impl_->c, n) + 8);
  size_t produced = libdeflate_deflate_compress(impl_->c, data, n, out.data(), out.size());
  if (produced == 0) return false;
  out.resize(produced);
  if (last) return true;
  uint64_t headerBit = 0;
  int unused = 0;
  if (!FindLastBlock(out, headerBit, unused)) return false;
  out[static_cast<size_t>(headerBit >> 3)] &= static_cast<uint8_t>(~(1u << (headerBit & 7)));
  // An empty stored block: three zero header bits (not final, stored) in the
  // unused bits or in a new byte, padding to the byte, then LEN 0, NLEN ~0.
  if (unused < 3) out.push_back(0);
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) out.push_back(b);
  return true;
}

}  // namespace qv::packing
