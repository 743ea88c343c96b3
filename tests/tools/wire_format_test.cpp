// The stream's data messages: what the publisher encodes the subscriber reads
// back, and bytes from the network that lie about themselves are refused.
#include <gtest/gtest.h>

#include "tools/vornwire/wire_format.h"

namespace vorn_test {

using namespace vornwire;

namespace {

DataMessage Sample(std::uint32_t rows, std::uint16_t channels) {
  DataMessage m;
  m.header.serial = "VSC1000001";
  m.header.sequence = 41;
  m.header.firstSample = 1u << 31;
  m.header.rows = rows;
  m.header.channels = channels;
  m.header.periodUs = 2000;
  m.header.firstHostUs = -5;
  m.header.lastHostUs = 123456789012;
  m.malformed.assign(rows, 0);
  for (std::uint32_t r = 0; r < rows; ++r) {
    for (std::uint16_t c = 0; c < channels; ++c) m.values.push_back(static_cast<std::uint16_t>((r * 7 + c) % 32768));
  }
  return m;
}

void PutU32(std::string &bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

TEST(WireFormat, DataRoundTripKeepsEveryFieldValueAndMalformedRow) {
  DataMessage sent = Sample(9, 3);
  sent.malformed[0] = sent.malformed[8] = 1;
  sent.values[0] = 32767;
  const std::string bytes = EncodeData(sent);
  DataMessage got;
  ASSERT_TRUE(DecodeData(bytes.data(), bytes.size(), got).ok());
  EXPECT_EQ(got.header.serial, "VSC1000001");
  EXPECT_EQ(got.header.sequence, 41u);
  EXPECT_EQ(got.header.firstSample, 1u << 31);
  EXPECT_EQ(got.header.rows, 9u);
  EXPECT_EQ(got.header.channels, 3);
  EXPECT_EQ(got.header.periodUs, 2000u);
  EXPECT_EQ(got.header.firstHostUs, -5);
  EXPECT_EQ(got.header.lastHostUs, 123456789012);
  EXPECT_EQ(got.values, sent.values);
  EXPECT_EQ(got.malformed, sent.malformed);
}

TEST(WireFormat, EmptyBlockAndLongSerialAreEncodable) {
  DataMessage none = Sample(0, 1);
  std::string bytes = EncodeData(none);
  DataMessage got;
  EXPECT_TRUE(DecodeData(bytes.data(), bytes.size(), got).ok());
  EXPECT_TRUE(got.values.empty());

  DataMessage longName = Sample(1, 1);
  longName.header.serial.assign(200, 'A');
  bytes = EncodeData(longName);
  ASSERT_TRUE(DecodeData(bytes.data(), bytes.size(), got).ok());
  EXPECT_EQ(got.header.serial.size(), kMaxSerialLength);
}

TEST(WireFormat, TruncatedOrPaddedMessagesAreDamagedNeverRead) {
  const std::string bytes = EncodeData(Sample(5, 4));
  DataMessage got;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    const DecodeResult r = DecodeData(bytes.data(), cut, got);
    EXPECT_FALSE(r.ok()) << cut;
    EXPECT_FALSE(r.error.empty());
  }
  const std::string padded = bytes + "x";
  EXPECT_EQ(DecodeData(padded.data(), padded.size(), got).status, DecodeStatus::Damaged);
}

TEST(WireFormat, AHeaderThatAsksForMoreThanItCarriesIsRefusedBeforeAnyAllocation) {
  std::string bytes = EncodeData(Sample(2, 2));
  PutU32(bytes, 8, kMaxRows);  // rows: valid by the limit, far beyond the bytes
  DataMessage got;
  const DecodeResult r = DecodeData(bytes.data(), bytes.size(), got);
  EXPECT_EQ(r.status, DecodeStatus::Damaged);
  EXPECT_NE(r.error.find("announces"), std::string::npos) << r.error;
  EXPECT_LT(got.values.capacity(), 16u);

  PutU32(bytes, 8, 0xFFFFFFFFu);
  EXPECT_EQ(DecodeData(bytes.data(), bytes.size(), got).status, DecodeStatus::Damaged);
  bytes[6] = bytes[7] = 0;  // no channels
  EXPECT_EQ(DecodeData(bytes.data(), bytes.size(), got).status, DecodeStatus::Damaged);
}

TEST(WireFormat, ValuesBeyondTheScaleAndUnknownKindsAreDamaged) {
  std::string bytes = EncodeData(Sample(1, 1));
  bytes[bytes.size() - 1] = static_cast<char>(0x80);
  DataMessage got;
  EXPECT_EQ(DecodeData(bytes.data(), bytes.size(), got).status, DecodeStatus::Damaged);
  bytes = EncodeData(Sample(1, 1));
  bytes[3] = 7;
  EXPECT_EQ(DecodeData(bytes.data(), bytes.size(), got).status, DecodeStatus::Damaged);
}

TEST(WireFormat, ANewerVersionSaysSoAndOtherBytesAreNotOurs) {
  std::string bytes = EncodeData(Sample(1, 1));
  bytes[2] = 2;
  DataMessage got;
  const DecodeResult r = DecodeData(bytes.data(), bytes.size(), got);
  EXPECT_EQ(r.status, DecodeStatus::NewerVersion);
  EXPECT_NE(r.error.find("format 2"), std::string::npos) << r.error;
  EXPECT_EQ(CheckFormatVersion(2).status, DecodeStatus::NewerVersion);
  EXPECT_TRUE(CheckFormatVersion(1).ok());
  EXPECT_EQ(DecodeData("GET / HTTP/1.1", 14, got).status, DecodeStatus::NotOurs);
}

TEST(WireFormat, ALaterRevisionsExtraHeaderFieldsAreSkipped) {
  std::string bytes = EncodeData(Sample(3, 2));
  const std::size_t headerSize = kFixedHeaderSize + 10;
  bytes.insert(headerSize, "\x01\x02\x03\x04", 4);
  bytes[4] = static_cast<char>(headerSize + 4);
  DataMessage got;
  ASSERT_TRUE(DecodeData(bytes.data(), bytes.size(), got).ok());
  EXPECT_EQ(got.values, Sample(3, 2).values);
}

TEST(WireFormat, TopicsNameExactlyOneDevice) {
  EXPECT_EQ(DataTopic("VSC1"), "VSC1/data");
  EXPECT_EQ(TopicSerial(MetaTopic("VSC12")), "VSC12");
  EXPECT_TRUE(IsMetaTopic("VSC1/meta"));
  EXPECT_FALSE(IsDataTopic("VSC1/meta"));
  EXPECT_EQ(TopicSerial("VSC1"), "");
  EXPECT_EQ(TopicSerial("/data"), "");
  // A subscription to "VSC1/" is a prefix of VSC1's topics only.
  EXPECT_NE(DataTopic("VSC12").rfind("VSC1/", 0), 0u);
}

}  // namespace vorn_test
