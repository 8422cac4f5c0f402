// Deflate for the writer's workers: libdeflate, which for the same time makes
// smaller streams than zlib, over a whole file or over one piece of a large
// file. libdeflate compresses whole buffers into complete streams only; the
// pieces of one file are joined into one stream the way zlib's gzjoin joins
// streams: zlib's inflate walks a piece's blocks to find the last one, its
// "final" bit is cleared, and an empty stored block brings the stream back to
// a byte boundary, where the next piece starts. The joined stream is what any
// inflater reads; only the last piece keeps its final block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv::packing {

class PieceDeflater {
 public:
  // `level` 1..9 (the engine's levels, passed to libdeflate as they are).
  explicit PieceDeflater(int level);
  ~PieceDeflater();
  PieceDeflater(const PieceDeflater&) = delete;
  PieceDeflater& operator=(const PieceDeflater&) = delete;

  // Deflates `n` bytes into `out`: a complete stream when `last`, else a
  // stream that the next piece's output continues. Identical input, level
  // and `last` always give identical bytes. False when the library fails
  // (out of memory).
  bool Run(const uint8_t* data, size_t n, bool last, std::vector<uint8_t>& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::packing
