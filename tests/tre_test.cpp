// TREs: every TRE of the real files decodes and encodes back byte for byte; GDAL's
// decoding (-mdd xml:TRE) of the samples and of files GDAL writes with each described
// TRE agrees with ours; malformed TREs stay raw with the reason; JSON sets keep lengths.
#include <kvntfu.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "support/testing.h"
#include "tre/json.h"
#include "tre/tre.h"

namespace {

namespace fs = std::filesystem;
namespace tre = nitf::tre;
using Fields = std::vector<std::pair<std::string, std::string>>;

std::string run(const std::string& cmd) {
  return testing_support::command_output(cmd + " 2>&1");
}

std::string unescape(std::string s) {
  for (const char* e : {"&quot;\"", "&apos;'", "&lt;<", "&gt;>", "&amp;&"})
    for (std::size_t at, n = strlen(e) - 1; (at = s.find(std::string(e, n))) != s.npos;)
      s.replace(at, n, e + n);
  return s;
}

// GDAL's fields of each TRE `tag` of gdalinfo's xml:TRE output, in order.
std::vector<Fields> gdal_tres(const std::string& xml, const std::string& tag) {
  std::vector<Fields> out;
  std::size_t at = 0;
  while ((at = xml.find("<tre name=\"" + tag + "\"", at)) != std::string::npos) {
    const std::size_t end = xml.find("</tre>", at);
    out.emplace_back();
    for (std::size_t f = at; (f = xml.find("<field name=\"", f)) < end;) {
      const std::size_t n = f + 13, q = xml.find('"', n), v = xml.find("value=\"", q) + 7;
      out.back().emplace_back(xml.substr(n, q - n),
                              unescape(xml.substr(v, xml.find("\" />", v) - v)));
      f = v;
    }
    at = end;
  }
  return out;
}

void flatten(const tre::JsonValue& fields, Fields* out) {
  for (const auto& [name, v] : fields.members) {
    if (v.type != tre::JsonValue::kArray) out->emplace_back(name, v.text);
    for (const tre::JsonValue& item : v.items) flatten(item, out);
  }
}

// Empty when the n-th TRE `tag` of GDAL's xml:TRE output agrees with our JSON object:
// GDAL's fields appear in ours in order (it hides some reserved fields) with equal
// values. `checked` counts the comparisons made; GDAL may show no such TRE.
std::string disagreement(const std::string& xml, const std::string& tag, int n,
                         const std::string& json, int* checked) {
  const std::vector<Fields> theirs = gdal_tres(xml, tag);
  if (n >= static_cast<int>(theirs.size())) return "";
  tre::JsonValue v;
  std::string reason;
  if (!tre::parse_json(json, &v, &reason) || !v.find("fields")) return reason + json;
  Fields ours;
  flatten(*v.find("fields"), &ours);
  ++*checked;
  std::size_t k = 0;
  for (auto [name, value] : theirs[n]) {
    // GDAL marks some fields of repeated groups with a suffix (_MM, _NNNN).
    const std::size_t bar = name.rfind('_');
    if (bar != std::string::npos && bar + 2 < name.size() &&
        name.find_first_not_of(name[bar + 1], bar + 1) == std::string::npos &&
        std::none_of(ours.begin() + k, ours.end(), [&](const auto& f) { return f.first == name; }))
      name.resize(bar);
    while (k < ours.size() && ours[k].first != name) ++k;
    if (k == ours.size()) return "GDAL's " + name + " not found in order";
    // GDAL shows the bytes, we show Latin-1 as UTF-8: compared as JSON strings.
    std::string mine = ours[k++].second;
    mine.erase(mine.find_last_not_of(' ') + 1);  // GDAL trims numbers too
    // Binary fields GDAL shows as characters, we in hexadecimal.
    std::string chars;
    const bool hex = mine.find_first_not_of("0123456789abcdef") == std::string::npos;
    for (std::size_t i = 0; hex && i + 1 < mine.size() && mine.size() % 2 == 0; i += 2)
      chars += static_cast<char>(std::stoi(mine.substr(i, 2), nullptr, 16));
    if (!chars.empty() && chars == value && ours[k - 1].second.size() == 2 * value.size()) continue;
    // A bit mask GDAL shows as an unsigned number.
    if (hex && !mine.empty() && mine.size() <= 8 &&
        std::to_string(std::stoul(mine, nullptr, 16)) == value)
      continue;
    // A 4-byte binary real GDAL shows as a number, we in hexadecimal.
    if (hex && mine.size() == 8 && !value.empty() &&
        value.find_first_not_of("0123456789.-+e") == std::string::npos) {
      const std::uint32_t bits = std::stoul(mine, nullptr, 16);
      float f;
      std::memcpy(&f, &bits, 4);
      if (std::fabs(f - std::stod(value)) <= 1e-5 * std::fabs(f)) continue;
    }
    if (tre::json_quote(mine, true) != tre::json_quote(value))
      return name + ": ours '" + ours[k - 1].second + "', GDAL '" + value + "'";
  }
  return "";
}

std::string tre_json(NitfDocument* d, int kind, int index, int i) {
  char* json = nullptr;
  EXPECT_EQ(Kv_NITFGetTreJson(d, kind, index, i, &json), RET_SUCCESS);
  std::string s = json ? json : "";
  Kv_NITFFreeTreJson(&json);
  return s;
}

struct Doc : testing_support::PublicDoc {
  explicit Doc(const fs::path& p) : PublicDoc(p, KV_NITF_EXTENDED) {}
  // Every header as (kind, index).
  std::vector<std::pair<int, int>> headers() const {
    std::vector<std::pair<int, int>> out = {{KV_FIELDS_FILE, 0}};
    for (int kind : {KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC, KV_FIELDS_TEXT, KV_FIELDS_DES})
      for (int i = 0; i < Kv_NITFGetSegmentCount(d, kind); ++i) out.emplace_back(kind, i);
    return out;
  }
};

// Tags the dictionary does not describe (or cannot: RPFIMG is a binary section table).
const std::set<std::string> kUndescribed = {"RPFIMG"};

TEST(Tre, SamplesRoundTrip) {
  REQUIRE_SAMPLES();
  int decoded = 0, gdal_checked = 0;
  for (const fs::path& dir : {testing_support::samples_dir(), testing_support::more_samples_dir()})
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      const fs::path p = e.path();
      Doc doc(p);
      if (!doc.d) continue;
      const std::string xml = run("GDAL_PAM_ENABLED=NO gdalinfo -mdd xml:TRE '" + p.string() + "'");
      std::map<std::string, int> seen;  // per tag, for matching GDAL's file and image 0 TREs
      for (const auto& [kind, index] : doc.headers()) {
        int32_t count = 0;
        ASSERT_EQ(Kv_NITFGetTreCount(doc.d, kind, index, &count), RET_SUCCESS) << p;
        for (int i = 0; i < count; ++i) {
          NitfTreInfo info{};
          ASSERT_EQ(Kv_NITFGetTreInfo(doc.d, kind, index, i, &info), RET_SUCCESS);
          const std::string json = tre_json(doc.d, kind, index, i);
          // The two NSIF files with broken user-defined areas show them as malformed.
          const bool broken = p.filename().string().find("_oob") != std::string::npos ||
                              p.filename() == "invalid_udid.ntf";
          if (info.status != KV_TRE_DECODED) {
            EXPECT_TRUE(kUndescribed.count(info.tag) ||
                        (broken && info.area == KV_TRE_USER && info.status == KV_TRE_MALFORMED))
                << p << " " << info.tag << ": " << json;
            continue;
          }
          ++decoded;
          // The JSON set back in place leaves the TRE (and its length) as it was.
          if (kind != KV_FIELDS_DES && info.area != KV_TRE_OVERFLOW) {
            ASSERT_EQ(Kv_NITFSetTreJson(doc.d, kind, index, i, json.c_str()), RET_SUCCESS) << json;
            EXPECT_EQ(tre_json(doc.d, kind, index, i), json);
          }
          // GDAL shows the file header's TREs, the first image's and the overflow's.
          if ((kind == KV_FIELDS_IMAGE && index > 0) || kind == KV_FIELDS_DES) continue;
          EXPECT_EQ(disagreement(xml, info.tag, seen[info.tag]++, json, &gdal_checked), "")
              << p << " " << info.tag;
        }
      }
    }
  EXPECT_GE(decoded, 26);
  EXPECT_GE(gdal_checked, 15);
}

// What the synthetic TRE holds in field `name`: the first value a condition tests for,
// every bit of a mask, 2 for a count or width, nothing (digits or letters) otherwise.
std::string chosen(const tre::Description& d, const char* name) {
  std::string value;
  for (const tre::Entry& u : d.entries) {
    if (u.op == tre::Op::kIfBits && !strcmp(u.ref, name)) return "\xff";  // every bit set
    if (u.op == tre::Op::kTableField && !strcmp(u.ref, name))             // the table's first code
      return std::string(u.ref2).substr(0, std::string(u.ref2).find('='));
    if (u.op == tre::Op::kIf && !strcmp(u.ref, name))
      return std::string(u.ref2).substr(0, std::string(u.ref2).find('|'));
    // A width's second factor (bytes per value) 1: GDAL cannot read a product width.
    if (u.op == tre::Op::kField && u.ref2 && !strcmp(u.ref2, name)) return "1";
    if (u.op != tre::Op::kIfNot &&
        ((u.ref && !strcmp(u.ref, name)) || (u.ref2 && !strcmp(u.ref2, name))))
      value = "2";
  }
  return value;
}

// The bytes of a TRE of description `d` (entries [from, to)) as `chosen` says.
void synthetic(const tre::Description& d, std::size_t from, std::size_t to, std::string* out) {
  for (std::size_t i = from; i < to; ++i) {
    const tre::Entry& e = d.entries[i];
    if (e.op == tre::Op::kField || e.op == tre::Op::kTableField) {
      std::string v = chosen(d, e.name);
      std::size_t w = e.width ? e.width : e.ref ? 2 : 3;
      if (e.op == tre::Op::kTableField) w = std::stoul(strchr(e.ref2, '=') + 1);
      if (v.size() == 1 && e.kind == tre::Kind::kB)  // a mask, or a count big-endian
        v = v == "\xff" ? std::string(w, v[0]) : std::string(w - 1, '\0') + char(v[0] - '0');
      else if (v.size() == 1 && w > 1 && (e.kind == tre::Kind::kN || std::isdigit(v[0])))
        v.insert(0, w - 1, '0');
      for (std::size_t k = v.size(); k < w; ++k)
        v += e.kind == tre::Kind::kN ? char('1' + k % 9) : char('A' + k % 26);
      *out += v;
      continue;
    }
    std::size_t end = i;
    for (int depth = 1; depth > 0;)
      depth += d.entries[++end].op == tre::Op::kEnd ? -1
               : d.entries[end].op == tre::Op::kField || d.entries[end].op == tre::Op::kTableField
                   ? 0
                   : 1;
    std::size_t n = e.op == tre::Op::kTriangle ? 3 : e.ref ? (e.ref2 ? 4 : 2) - e.width : e.width;
    if (e.op == tre::Op::kIfBits) n = 1;
    if (e.op == tre::Op::kIf || e.op == tre::Op::kIfNot)
      n = ("|" + std::string(e.ref2) + "|").find("|" + chosen(d, e.ref) + "|") != std::string::npos
              ? e.op == tre::Op::kIf
              : e.op == tre::Op::kIfNot;
    for (std::size_t k = 0; k < n; ++k) synthetic(d, i + 1, end, out);
    i = end;
  }
}

TEST(Tre, GdalWrittenAgree) {
  testing_support::TempDir dir;
  int agreed = 0;
  for (const tre::Description& d : tre::descriptions()) {
    if (std::string(d.tag).size() > 6) continue;
    std::string text;
    synthetic(d, 0, d.entries.size(), &text);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const tre::Decoded ours = tre::decode(d.tag, bytes, text.size());
    ASSERT_EQ(ours.status, tre::Status::kDecoded) << d.tag << ours.reason;
    const std::string f = dir.file(std::string(d.tag) + ".ntf").string();
    // A TRE with zero bytes cannot pass GDAL's option: we add it to GDAL's file.
    const bool nul = text.find('\0') != std::string::npos;
    std::string out = run("GDAL_PAM_ENABLED=NO gdal_create -q -of NITF -outsize 2 2 " +
                          (nul ? "" : "-co 'TRE=" + std::string(d.tag) + "=" + text + "' ") + f);
    if (nul) {
      std::string hex;
      for (unsigned char c : text)
        hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
      Doc doc(f);
      const std::string set = R"({"tag":")" + std::string(d.tag) + R"(","hex":")" + hex + "\"}";
      ASSERT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_IMAGE, 0, -1, set.c_str()), RET_SUCCESS);
      ASSERT_EQ(Kv_NITFSaveFileA(doc.d, (f + "2").c_str()), RET_SUCCESS);
    }
    out += run("GDAL_PAM_ENABLED=NO gdalinfo -mdd xml:TRE " + f + (nul ? "2" : ""));
    const int before = agreed;
    EXPECT_EQ(disagreement(out, d.tag, 0, tre::to_json(ours), &agreed), "") << d.tag;
    if (agreed == before) std::printf("GDAL does not decode %s\n", d.tag);
    EXPECT_FALSE(agreed > before && out.find("Warning") != std::string::npos) << out;
  }
  std::printf("GDAL agrees on %d TREs written with its TRE option\n", agreed);
  EXPECT_GE(agreed, 30);
}

TEST(Tre, MalformedKeptRaw) {
  const std::tuple<const char*, std::string, const char*, std::uint32_t> cases[] = {
      {"HISTOA", std::string(20, 'S') + "NONE00000000UNKP 0099", "EVENT", 41},  // 99 events
      {"GEOLOB", std::string(47, '0'), "PSO", 33},
      {"GEOLOB", std::string(49, '0'), "", 48},
      {"J2KLRA", "0 1000010 2", "NLAYERS_O", 8},
      {"PRJPSB", std::string(82, ' ') + "X", "NUM_PRJ", 82},
      {"NBLOCA", std::string(8, '\0'), "FRAME", 8},  // no frames, so none after the first
      {"SENSRB", "NNNN" + std::string(86, '0') + "NNNN000199z0001" + std::string(20, '0'),
       "TIME_STAMP_VALUE", 98}};  // a code naming no field
  for (const auto& [tag, bytes, field, offset] : cases) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const tre::Decoded d = tre::decode(tag, data, bytes.size());
    EXPECT_EQ(d.status, tre::Status::kMalformed) << tag;
    EXPECT_EQ(d.field + ":" + std::to_string(d.offset), field + (":" + std::to_string(offset)))
        << tag << d.reason;
    EXPECT_NE(tre::to_json(d).find("\"hex\""), std::string::npos);
  }
  // A file with a broken extension area still saves, and the broken bytes can be replaced.
  REQUIRE_SAMPLES();
  testing_support::TempDir dir;
  Doc doc(testing_support::more_samples_dir() / "nsif10/invalid_udid.ntf");
  EXPECT_EQ(Kv_NITFSaveFileA(doc.d, dir.file("copy.ntf").c_str()), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_IMAGE, 0, 0, R"({"tag":"A","hex":"00"})"),
            RET_SUCCESS);
  EXPECT_EQ(tre_json(doc.d, KV_FIELDS_IMAGE, 0, 0),
            R"({"tag":"A","length":1,"status":"unknown","hex":"00"})");
}

TEST(Tre, JsonSetRoundTrip) {
  REQUIRE_SAMPLES();
  testing_support::TempDir dir;
  Doc doc(testing_support::more_samples_dir() / "tre/rpc.ntf");
  ASSERT_NE(doc.d, nullptr);
  std::string json = tre_json(doc.d, KV_FIELDS_IMAGE, 0, 0);
  json.replace(json.find("\"SAMP_OFF\":\"13763\""), 18, "\"SAMP_OFF\":42");  // a number
  ASSERT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_IMAGE, 0, 0, json.c_str()), RET_SUCCESS);
  const char* added = R"({"tag":"BLOCKA","fields":{"BLOCK_INSTANCE":"1","N_GRAY":"0","L_LINES":
    "512","LAYOVER_ANGLE":"","SHADOW_ANGLE":"","RESERVED_001":"","FRLC_LOC":"","LRLC_LOC":"",
    "LRFC_LOC":"","FRFC_LOC":"","RESERVED_002":""}})";
  ASSERT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_IMAGE, 0, -1, added), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_FILE, 0, -1, "{\"tag\":\"XYZ\",\"hex\":\"00ff\"}"),
            RET_SUCCESS);
  const std::string deep = R"({"tag":"GEOLOB","fields":)" + std::string(100000, '[');
  for (const char* bad : {R"({"tag":"BLOCKA","fields":{}})", R"({"tag":"NOSUCH"})", "[1,",
                          R"({"tag":"GEOLOB","fields":{"ARV":"1234567890"}})", deep.c_str(),
                          R"({"tag":"GEOLOB","fields":{"ARV":007}})", R"({"tag":"A","hex":"00"} x)",
                          "{\"tag\":\"A\",\"hex\":\"\xff\"}"})
    EXPECT_EQ(Kv_NITFSetTreJson(doc.d, KV_FIELDS_IMAGE, 0, 0, bad), RET_INVALID_PARAMETER) << bad;
  const fs::path out = dir.file("set.ntf");
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, out.c_str()), RET_SUCCESS);
  const std::string xml = run("GDAL_PAM_ENABLED=NO gdalinfo -mdd xml:TRE " + out.string());
  EXPECT_EQ(xml.find("Warning"), std::string::npos) << xml.substr(0, 300);
  ASSERT_EQ(gdal_tres(xml, "BLOCKA").size(), 1u) << xml.substr(0, 300);
  EXPECT_EQ(gdal_tres(xml, "BLOCKA")[0][2].second, "00512");
  EXPECT_EQ(gdal_tres(xml, "RPC00B")[0][4].second, "00042");
  Doc again(out);
  EXPECT_NE(tre_json(again.d, KV_FIELDS_FILE, 0, 0).find("\"hex\":\"00ff\""), std::string::npos);
}

TEST(Tre, DataExtensions) {
  REQUIRE_SAMPLES();
  Doc sicd(testing_support::more_samples_dir() / "tre/sar_sicd.ntf");
  char* json = nullptr;
  ASSERT_EQ(Kv_NITFGetDesJson(sicd.d, 0, &json), RET_SUCCESS);
  const std::string des = json;
  Kv_NITFFreeTreJson(&json);
  EXPECT_NE(des.find(R"("DESSHTN":"urn:SICD:1.1.0")"), std::string::npos) << des.substr(0, 900);
  EXPECT_NE(des.find(R"("xml":"<SICD xmlns=\"urn:SICD:1.1.0\">)"), std::string::npos);
  // The RSM TREs of a TRE_OVERFLOW segment are listed with the image they belong to.
  Doc rsm(testing_support::more_samples_dir() / "clevel/i_6130a_truncated.ntf");
  NitfTreInfo info{};
  ASSERT_EQ(Kv_NITFGetTreInfo(rsm.d, KV_FIELDS_IMAGE, 0, 2, &info), RET_SUCCESS);
  EXPECT_EQ(std::string(info.tag) + std::to_string(info.area) + std::to_string(info.segment),
            "RSMIDA" + std::to_string(KV_TRE_OVERFLOW) + "0");
}

}  // namespace
