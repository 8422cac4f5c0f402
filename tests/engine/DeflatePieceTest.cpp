// Pieces deflated one by one must join into one stream that zlib inflates to
// the whole input, whatever the pieces hold and wherever their last bits end.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "engine/DeflatePiece.h"

namespace {

// Inflates a raw stream; "" plus `ok` false when it is not exactly one stream.
std::string Inflate(const std::vector<uint8_t>& s, bool& ok) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(s.data());
  z.avail_in = static_cast<uInt>(s.size());
  std::string out;
  char buf[65536];
  int r = Z_OK;
  while (r == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
    if (r == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  ok = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return out;
}

std::vector<uint8_t> Join(const std::vector<std::string>& pieces, int level) {
  qv::packing::PieceDeflater d(level);
  std::vector<uint8_t> all, out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(pieces[i].data());
    EXPECT_TRUE(d.Run(p, pieces[i].size(), i + 1 == pieces.size(), out));
    all.insert(all.end(), out.begin(), out.end());
  }
  return all;
}

TEST(PieceDeflater, PiecesJoinIntoOneStream) {
  std::string text = qvtest::Bytes(300000, 3, true), noise = qvtest::Bytes(200000, 4);
  // Pieces of text, of incompressible data (stored blocks, ending on a byte
  // boundary), tiny and empty ones, so the last bits fall everywhere.
  std::vector<std::vector<std::string>> cases = {
      {text.substr(0, 100000), text.substr(100000)},
      {noise.substr(0, 70000), noise.substr(70000)},
      {text.substr(0, 1000), noise.substr(0, 1000), text.substr(1000, 5), "", "x", text},
  };
  for (int i = 0; i < 64; ++i) cases.push_back({text.substr(0, 50 + i * 7), text.substr(0, i)});
  for (int level : {1, 6, 9}) {
    for (const auto& pieces : cases) {
      std::string whole;
      for (const auto& p : pieces) whole += p;
      bool ok = false;
      std::string back = Inflate(Join(pieces, level), ok);
      EXPECT_TRUE(ok) << "level " << level << ", " << pieces.size() << " pieces";
      EXPECT_TRUE(back == whole) << back.size() << " bytes back of " << whole.size();
    }
  }
}

TEST(PieceDeflater, SameInputSameBytes) {
  std::string text = qvtest::Bytes(100000, 5, true);
  std::vector<uint8_t> a = Join({text, text}, 6), b = Join({text, text}, 6);
  EXPECT_EQ(a, b);
  // A piece that is not the last one does not end the stream: alone, it is
  // no complete stream.
  qv::packing::PieceDeflater d(6);
  std::vector<uint8_t> out;
  ASSERT_TRUE(d.Run(reinterpret_cast<const uint8_t*>(text.data()), text.size(), false, out));
  bool ok = true;
  EXPECT_TRUE(Inflate(out, ok) == text);
  EXPECT_FALSE(ok);
}

}  // namespace
