// The module's entry points driven the way a hostile file reaches them, shared by the
// libFuzzer harnesses in this folder and by the corpus replay test (tests/corpus_test),
// so that every input a fuzzer kept runs through exactly the same calls as an ordinary
// test. Each function returns the export's code and releases everything it obtained.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NitfDocument;

namespace fuzzing {

// Bytes in an anonymous memory file, opened by the module through its /proc name as
// any named file (each open gets its own offset). Empty name() when it could not be made.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  const std::wstring& name() const { return name_; }

 private:
  int fd_ = -1;
  std::wstring name_;
};

// The harnesses' allocation cap: a claimed size the module accepts stays well within a
// fuzzer's memory limit, and the painting of one unit within a few seconds.
constexpr std::size_t kHarnessAllocationCap = std::size_t{64} << 20;

// Lowers the allocation cap to `bytes` unless KVNTF_MAX_ALLOC is set.
void limit_allocations(std::size_t bytes);

// Every call reads as the module does by default, or with extended reading
// (KV_NITF_EXTENDED, KV_LOAD_EXTENDED); the harnesses choose by the input's length.

// Opens the document and walks every public getter: status and counts, the file header,
// every image, graphic and text subheader (each freed again), every text segment and
// every graphic's drawing. The open's code; the getters' codes are not judged.
int walk_document(const std::wstring& name, bool extended = false);
// fltInfo as the client calls it before a load.
int describe(const std::wstring& name, bool extended = false);
// fltLoad with the host's decoders and a row callback that drops the rows. The target
// depth (8, 24 or 32) and the enhancement option are chosen by `variant`.
int load_rows(const std::wstring& name, std::uint32_t variant, bool extended = false);
// Kv_NtfRenderBitmap on the opened document, the canvas released afterwards. The open's
// code when it fails.
int render(const std::wstring& name, bool extended = false);
// Kv_NITFGetImageInfo and Kv_NITFReadSamples on every image (at most four) of the opened
// document, the request (window, reduction, bands, layout, stride) taken from the
// `count` bytes of `parameters`; requests whose output would exceed 16 MiB are not made.
// Then Kv_NtfRenderRegion of a window and a size (at most 511 square) from the same bytes.
// The open's code when it fails, else the last read's (the composition's without images).
int read_samples(const std::wstring& name, const std::uint8_t* parameters, std::size_t count,
                 bool extended = false);
// Opens the document, appends a text of the `count` bytes of `extra` when there are any
// and sets the title to their first 80, saves it (to a scratch folder in memory) and
// opens the saved file: it must read back with every header field (but FL and HL, made
// true), every TRE and every segment's data as the first reading had them; a difference
// traps. The open's code, else the save's.
int round_trip(const std::wstring& name, const std::uint8_t* extra, std::size_t count,
               bool extended = false);
// The bytes as edits of a document, then the round trip of round_trip: the first byte
// chooses extended reading (bit 0) and the length L of the edit script (the rest); the L
// bytes after it are the script and what follows the file the document is opened from
// (a new document when that is empty or does not open). The script appends images,
// texts and graphics, replaces drawings, sets header fields (values the setters must
// refuse among them) and sets TREs from JSON. A refused edit must leave every holding
// as it was, and the saved file must read back (with extended reading) as the edited
// document holds it; either difference traps. The save's code (or the code of the new
// document's creation).
int edit_round_trip(const std::uint8_t* data, std::size_t size);
// The host CGM reader alone.
int read_cgm(const std::uint8_t* data, std::size_t size);
// The TRE dictionary alone: the first six bytes are the tag, the rest the TRE's data.
// A TRE that decodes must encode back from its own JSON to the same bytes: a difference
// is the interpreter's fault and traps. RET_SUCCESS, or RET_BAD_ARGUMENT without a tag.
int decode_tre(const std::uint8_t* data, std::size_t size);

// What a save must keep of a document (every header field but FL and HL as a save writes
// it: trailing blanks dropped, an empty number as its zeros; every TRE and every
// segment's data) as one text, and the name of a scratch file in memory for saved
// copies: shared by the round-trip harnesses.
std::string holdings(NitfDocument* document);
std::string scratch_file();

}  // namespace fuzzing
