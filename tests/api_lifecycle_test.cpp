// The document API: create, destroy, status, counts and the file header record.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <sstream>

#include "testing.h"

namespace {

using namespace testing_support;

TEST(ApiLifecycle, CreateWithoutAFile) {
  std::size_t before = kernel::live_objects();
  NitfDocument* doc = nullptr;
  ASSERT_EQ(Kv_NITFCreate(&doc, nullptr), RET_SUCCESS);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(Kv_NITFGetStatus(doc), KV_NITF_STATUS_EMPTY | KV_NITF_STATUS_HEADER_PRESENT);
  EXPECT_EQ(Kv_NITFGetImageHeaderCount(doc), 0);
  EXPECT_STREQ(doc->header.fl, "000000000388");

  NitfHeader h{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(doc, &h), RET_SUCCESS);
  EXPECT_STREQ(h.FHDR, "NITF");
  EXPECT_EQ(value(h.CLEVEL), 3);
  EXPECT_EQ(value(h.FL), 388);
  EXPECT_FLOAT_EQ(value(h.FVER), 2.1f);
  EXPECT_EQ(value(h.NUMI), 0);
  EXPECT_EQ(value(h.LISH), nullptr);
  EXPECT_EQ(std::string(h.FSCODE), std::string(11, ' '))
      << "the field's width, so a set takes it back";
  EXPECT_GT(kernel::live_objects(), before);
  EXPECT_EQ(Kv_NITFFreeNITFHeader(&h), RET_SUCCESS);
  EXPECT_EQ(value(h.FHDR), nullptr);

  ASSERT_EQ(Kv_NITFDestroy(&doc), RET_SUCCESS);
  EXPECT_EQ(doc, nullptr);
  EXPECT_EQ(kernel::live_objects(), before) << "destroy leaves nothing behind";
}

TEST(ApiLifecycle, ArgumentChecks) {
  NitfDocument* doc = nullptr;
  EXPECT_EQ(Kv_NITFDestroy(&doc), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFDestroy(nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFCreate(nullptr, nullptr), RET_NO_MEMORY);
  EXPECT_EQ(Kv_NITFGetStatus(nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFGetImageHeaderCount(nullptr), 0);
  EXPECT_EQ(Kv_NITFGetGraphicHeaderCount(nullptr), 0);
  EXPECT_EQ(Kv_NITFGetTextHeaderCount(nullptr), 0);
  NitfHeader h{};
  EXPECT_EQ(Kv_NITFGetNITFHeader(nullptr, &h), RET_FAILURE);
  ASSERT_EQ(Kv_NITFCreate(&doc, nullptr), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFGetNITFHeader(doc, nullptr), RET_BAD_ARGUMENT);
  EXPECT_EQ(Kv_NITFFreeNITFHeader(nullptr), RET_BAD_ARGUMENT);
  Kv_NITFDestroy(&doc);
  EXPECT_EQ(KAVO_Load(), RET_SUCCESS);
}

TEST(ApiLifecycle, MissingAndRefusedFiles) {
  std::size_t before = kernel::live_objects();
  NitfDocument* doc = reinterpret_cast<NitfDocument*>(0x1);
  EXPECT_EQ(Kv_NITFCreateA(&doc, "/nonexistent/file.ntf"), RET_FILE_NOT_FOUND);
  EXPECT_EQ(doc, nullptr);
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.fields["FVER"] = "02.00";
  auto path = dir.write("old.ntf", nitfgen::build(layout));
  EXPECT_EQ(Kv_NITFCreateA(&doc, path.c_str()), RET_UNSUPPORTED_VERSION);
  EXPECT_EQ(doc, nullptr);
  EXPECT_EQ(Kv_NITFCreateA(&doc, "\xff\xfe"), RET_NO_MEMORY) << "not UTF-8";
  EXPECT_EQ(kernel::live_objects(), before);
}

TEST(ApiLifecycle, OpenAFileByWideAndNarrowName) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.fields["OSTAID"] = "STATION";
  layout.fields["FBKGC"] = std::string("\x01\x02\x03", 3);
  layout.has_xhd = true;
  layout.xhd = nitfgen::tre("ONE", "12345");
  auto path = dir.write("h.ntf", nitfgen::build(layout));
  NitfDocument* wide_doc = nullptr;
  NitfDocument* narrow_doc = nullptr;
  ASSERT_EQ(Kv_NITFCreate(&wide_doc, wide(path).c_str()), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFCreateA(&narrow_doc, path.c_str()), RET_SUCCESS);
  for (NitfDocument* doc : {wide_doc, narrow_doc}) {
    EXPECT_EQ(Kv_NITFGetStatus(doc), 3);
    EXPECT_EQ(doc->background, 0x030201u);
    NitfHeader h{};
    ASSERT_EQ(Kv_NITFGetNITFHeader(doc, &h), RET_SUCCESS);
    EXPECT_STREQ(h.OSTAID, "STATION   ");
    EXPECT_EQ(value(h.XHDL), 19);
    ASSERT_NE(value(h.XHD), nullptr);
    EXPECT_EQ(std::memcmp(h.XHD, layout.xhd.data(), 16), 0);
    EXPECT_EQ(value(h.FBKGC)[2], 3);
    Kv_NITFFreeNITFHeader(&h);
  }
  Kv_NITFDestroy(&wide_doc);
  Kv_NITFDestroy(&narrow_doc);
}

TEST(ApiLifecycle, TablesOfTheHeaderRecord) {
  REQUIRE_SAMPLES();
  NitfDocument* doc = nullptr;
  // Read the header alone: subheaders of this sample are not what this test is about.
  Parsed p = read_header_only(sample("misc/WithBE.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  doc = p.document.get();
  NitfHeader h{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(doc, &h), RET_SUCCESS);
  EXPECT_EQ(value(h.NUMI), p.document->header.images.count);
  ASSERT_GT(value(h.NUMI), 0);
  EXPECT_EQ(value(h.LI)[0], p.document->header.images.data(0));
  EXPECT_EQ(value(h.NUMT), 1);
  EXPECT_EQ(value(h.LT)[0], p.document->header.texts.data(0));
  Kv_NITFFreeNITFHeader(&h);
}

// Only the module's documented exports are visible in the shipped library.
TEST(SharedLibrary, ExportsOnlyTheApi) {
  std::istringstream documented(
      "Kv_NITFCreate Kv_NITFCreateA Kv_NITFDestroy Kv_NITFGetStatus Kv_NITFSaveFile "
      "Kv_NITFSaveFileA Kv_NITFGetImageHeaderCount Kv_NITFGetGraphicHeaderCount "
      "Kv_NITFGetTextHeaderCount Kv_NITFGetVectorHandle KAVO_Load Kv_NITFGetNITFHeader "
      "Kv_NITFSetNITFHeader Kv_NITFFreeNITFHeader Kv_NITFGetImageHeader "
      "Kv_NITFFreeImageHeader Kv_NITFSetImageHeader Kv_NITFGetGraphicHeader "
      "Kv_NITFSetGraphicHeader Kv_NITFFreeGraphicHeader Kv_NITFGetTextHeader "
      "Kv_NITFSetTextHeader Kv_NITFFreeTextHeader Kv_NITFGetTextSegment "
      "Kv_NITFAppendImageSegment Kv_NITFAppendGraphicSegment Kv_NITFSetVectorHandle "
      "Kv_NITFAppendTextSegment Kv_NITFAppendTextSegmentA GetActual_Width_Height "
      "Kv_NitfDrawObjects Kv_NtfRenderBitmap fltInfo fltLoad fltSave Kv_NITFGetFieldTable "
      "Kv_NITFCreateEx Kv_NITFCreateExA "
      "Kv_NITFGetFieldText Kv_NITFGetSegmentCount ");
  const std::set<std::string> allowed{std::istream_iterator<std::string>(documented), {}};
  std::istringstream listing(command_output(std::string("nm -D --defined-only ") + KVNTF_LIBRARY));
  std::set<std::string> exported;
  for (std::string line; std::getline(listing, line);) {
    char address[64], type[8], name[256];
    if (std::sscanf(line.c_str(), "%63s %7s %255s", address, type, name) == 3 &&
        (type[0] == 'T' || type[0] == 'D' || type[0] == 'B'))
      exported.insert(name);
  }
  for (const std::string& name : exported) {
    if (name.rfind("_", 0) == 0) continue;  // linker-provided
    EXPECT_TRUE(allowed.count(name)) << "unexpected export " << name;
  }
  for (const char* name : {"Kv_NITFCreate", "Kv_NITFDestroy", "KAVO_Load"})
    EXPECT_TRUE(exported.count(name)) << name;
}

}  // namespace
