// The message-text file: replacing texts, falling back to the built-in ones, damaged files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/library.h"
#include "tesmar/dof.h"

namespace tesmar::test {
namespace {

using MessageFileTest = LibraryTest;

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// Writes a message-text file through the library: the texts of `texts` (by code) replace the
// built-in ones. Returns the status of the last operation that failed, or 0.
mpm_Status write_message_file(const std::string &path, const std::map<mpm_Status, std::string> &texts) {
  mpm_Status status = mpm_OpenMessageFile(MPM_UPDATE_FILE, path.c_str());
  if (status != 0) return status;
  std::map<int32_t, std::vector<std::pair<int32_t, std::string>>> by_module;
  for (auto &[code, text] : texts)
    by_module[static_cast<int32_t>(code >> 16)].emplace_back(static_cast<int32_t>(code & 0xFFFF) - 1, text);
  const auto append = [](std::string bytes, int64_t *at) {  // a new block holding `bytes`
    const auto n = static_cast<uint32_t>(bytes.size());
    mpm_Status s = dof_AllocateBlock(mpm_message_file, n, at);
    return s != 0 ? s : dof_ReadWrite(DOF_WRITE, mpm_message_file, n, *at, bytes.data());
  };
  for (auto &[module, rows] : by_module) {
    const mpm_ModuleDesc *desc = mpm_GetModuleDesc(module);
    std::string entries(8u * desc->count, '\0');
    for (auto &[row, text] : rows) {
      int64_t at = 0;
      if ((status = append(text, &at)) != 0) return status;
      entries.replace(8u * row, 8, le32(static_cast<uint32_t>(at)) + le32(static_cast<uint32_t>(text.size())));
    }
    int64_t at = 0;
    if ((status = append(entries, &at)) != 0) return status;
    mpm_message_modules[module] = static_cast<uint32_t>(at);
  }
  return mpm_CloseMessageFile(0);
}

std::string text_of(mpm_Status code) {
  char *text = mpm_GetMessageText(0, static_cast<int32_t>(code >> 16), static_cast<int32_t>(code & 0xFFFF));
  std::string s = text != nullptr ? text : "(null)";
  std::free(text);
  return s;
}

TEST_F(MessageFileTest, ReplacementTextsAreUsedWhileTheFileIsOpen) {
  TempDir dir;
  std::string path = dir.file("texts.msg");
  ASSERT_EQ(write_message_file(path, {{OTM_NOTFOUND, " Objekt nicht gefunden\n"},
                                      {OTM_INVALIDSIZE, "+Ungueltige Groesse %1$d\n"},
                                      {MPM_ERROR, " *** Fehler (%s) "}}),
            0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  mpm_IssueMessage(0, OTM_INVALIDSIZE, MPM_ERROR, 42);
  EXPECT_EQ(pending_texts(), (std::vector<std::string>{
                                 "*** Fehler (OTM_INVALIDSIZE) ***\nUngueltige Groesse 42\n",
                                 "*** Fehler (OTM_NOTFOUND) ***\nObjekt nicht gefunden\n"}));
  EXPECT_EQ(text_of(OTM_NULLPOINTER), " NULL pointer\n");  // not in the file
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
  EXPECT_EQ(mpm_message_file, nullptr);
  EXPECT_EQ(text_of(OTM_NOTFOUND), " Object not found\n");
  EXPECT_EQ(mpm_CloseMessageFile(0), 0u);  // nothing open
}

TEST_F(MessageFileTest, CreatedFileStartsWithTheModuleTable) {
  TempDir dir;
  std::string path = dir.file("empty.msg");
  ASSERT_EQ(mpm_OpenMessageFile(MPM_UPDATE_FILE, path.c_str()), 0u);
  ASSERT_NE(mpm_message_file, nullptr);
  EXPECT_EQ(mpm_message_file->free_list, nullptr);
  EXPECT_EQ(mpm_message_file->page_size, 2048);
  EXPECT_EQ(mpm_message_file->buffer_count, 32);
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
  std::string bytes = read_file(path);
  ASSERT_EQ(bytes.size(), 2048u);
  EXPECT_EQ(bytes.substr(0, 1024), std::string(1024, '\xFF'));
  EXPECT_EQ(text_of(OTM_NOTFOUND), " Object not found\n");
}

TEST_F(MessageFileTest, ReadOnlyFileIsNotWrittenAndUpdateAddsTexts) {
  TempDir dir;
  std::string path = dir.file("texts.msg");
  ASSERT_EQ(write_message_file(path, {{OTM_NOTFOUND, " eins\n"}}), 0u);
  std::string before = read_file(path);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  mpm_message_modules[5] = 4000;  // a careless client: nothing goes back to a read-only file
  ASSERT_EQ(mpm_CloseMessageFile(MPM_UPDATE_FILE), 0u);
  EXPECT_EQ(read_file(path), before);

  // Opened for update, the existing texts stay and new ones join them.
  ASSERT_EQ(write_message_file(path, {{OLM_INVALIDPOSITION, " Position %d?\n"}}), 0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  EXPECT_EQ(text_of(OTM_NOTFOUND), " eins\n");
  EXPECT_EQ(text_of(OLM_INVALIDPOSITION), " Position %d?\n");
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
}

TEST_F(MessageFileTest, ReplacementWithOtherArgumentsKeepsTheBuiltInText) {
  TempDir dir;
  std::string path = dir.file("texts.msg");
  ASSERT_EQ(write_message_file(path, {{OTM_INVALIDSIZE, " Groesse %s\n"},         // %s for %d
                                      {OTM_SIZENOTEQ, " %d != %d, %d\n"},          // one too many
                                      {OTM_NOTFOUND, " %n\n"},                     // writes memory
                                      {DOF_OPEN_ERR, " Datei %s nicht offen.\n"}}),  // fine
            0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 3);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_SIZENOTEQ, MPM_ERROR, 1, 2);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_NOTFOUND, MPM_ERROR);
  mpm_IssueMessage(MPM_NO_HEADER, DOF_OPEN_ERR, MPM_ERROR, "a.dat");
  EXPECT_EQ(pending_texts(), (std::vector<std::string>{
                                 "Datei a.dat nicht offen.\n",
                                 "Object not found\n",
                                 "Data size one (1) does not equal data size two (2)\n",
                                 "Invalid size = 3\n"}));
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
}

TEST_F(MessageFileTest, DamagedFilesAreRefusedOrFallBack) {
  TempDir dir;
  std::string path = dir.file("bad.msg");
  // Empty, truncated, a table pointing outside the file, a directory.
  for (const std::string &bytes : {std::string(), std::string(1000, '\xFF'),
                                   le32(5000) + std::string(1020, '\xFF'),
                                   le32(12) + std::string(1020, '\xFF')}) {
    write_file(path, bytes);
    mpm_DiscardPending(0);
    EXPECT_EQ(mpm_OpenMessageFile(0, path.c_str()), MPM_DOFERROR);
    EXPECT_EQ(mpm_message_file, nullptr);
    EXPECT_EQ(pending_texts().size(), 2u);  // the paged file's message, then MPM's
    EXPECT_EQ(text_of(OTM_NOTFOUND), " Object not found\n");
  }
  EXPECT_EQ(mpm_OpenMessageFile(0, dir.path().c_str()), MPM_DOFERROR);
  EXPECT_EQ(mpm_OpenMessageFile(MPM_UPDATE_FILE, dir.path().c_str()), MPM_DOFERROR);
  EXPECT_EQ(mpm_OpenMessageFile(0, dir.file("missing").c_str()), MPM_DOFERROR);
  EXPECT_EQ(pending_texts().front(),
            "*** Error (MPM_DOFERROR) ***\nDOF error " + std::to_string(DOF_OPEN_ERR) + "\n");
  // An existing file that is not a message-text file is not taken over for update.
  write_file(path, "not a message file");
  EXPECT_EQ(mpm_OpenMessageFile(MPM_UPDATE_FILE, path.c_str()), MPM_DOFERROR);
  EXPECT_EQ(read_file(path), "not a message file");

  // Entries and texts pointing anywhere: the built-in texts stay.
  std::string table = std::string(12, '\xFF') + le32(1024) + std::string(1008, '\xFF');  // OTM
  std::string entries;
  entries += le32(1024 + 72) + le32(0xFFFFFFF0u);  // row 0: negative length
  entries += le32(1024 + 72) + le32(100000);       // row 1: runs past the end
  entries += le32(0xFFFFFFF0u) + le32(4);          // row 2: offset past the end
  entries += le32(1024 + 72) + le32(7);            // row 3: fine
  entries += le32(1024 + 72) + le32(0);            // row 4: keep the built-in text
  entries += std::string(32, '\xEE');              // rows 5..8: garbage
  write_file(path, table + entries + " Hallo\n");
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  EXPECT_EQ(text_of(OTM_NOMEMORY), " Out of memory\n");
  EXPECT_EQ(text_of(OTM_INVALIDSIZE), " Invalid size = %d\n");
  EXPECT_EQ(text_of(OTM_NULLPOINTER), " NULL pointer\n");
  EXPECT_EQ(text_of(OTM_LOGICERROR), " Hallo\n");
  EXPECT_EQ(text_of(OTM_INVALIDCOMPARE), " Invalid return from compare function = %d\n");
  EXPECT_EQ(text_of(OTM_NOTFOUND), " Object not found\n");
  EXPECT_EQ(text_of(OTM_FUNCTIONNOTEQ), " Function pointer one does not equal function pointer two\n");
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
}

TEST_F(MessageFileTest, RandomBytesNeverBreakTheMessages) {
  TempDir dir;
  std::string path = dir.file("noise.msg");
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(1024 + rng() % 3000, '\0');
    for (char &c : bytes) c = static_cast<char>(rng());
    // Point a few modules into the file so that entries are read.
    for (int m : {1, 3, 18}) {
      std::string off = le32(1024 + rng() % 2000);
      bytes.replace(4 * m, 4, off);
    }
    for (int m = 0; m < 256; ++m)
      if (m != 1 && m != 3 && m != 18 && rng() % 4 != 0) bytes.replace(4 * m, 4, le32(0xFFFFFFFFu));
    write_file(path, bytes);
    if (mpm_OpenMessageFile(0, path.c_str()) != 0) continue;
    mpm_IssueMessage(MPM_NO_HEADER, OTM_INVALIDSIZE, MPM_ERROR, 9);
    mpm_IssueMessage(0, DOF_READ_ERR, MPM_ERROR, "x");
    mpm_IssueMessage(0, OTM_SIZENOTEQ, MPM_ERROR, 1, 2);
    mpm_ReportMessage(MPM_NO_SCREEN | MPM_NO_LOG | MPM_DISCARD_PENDING, TMX_CLEANUP_ERR, MPM_ERROR,
                      7L, "f", 3);
    ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
  }
}

// A read of the file that fails while a text is looked up: the built-in text is used, the paged
// file's READ_ERR (whose own text is built in then) is pending, and the file is not read again.
int g_reads = 0;
int g_fail_from = 0;
int64_t failing_read(int fd, void *buffer, size_t n, int64_t offset) {
  if (++g_reads >= g_fail_from) {
    errno = EIO;
    return -1;
  }
  return platform::system_file_io().read_at(fd, buffer, n, offset);
}

TEST_F(MessageFileTest, FailedReadUsesTheBuiltInTextWithoutRecursing) {
  TempDir dir;
  std::string path = dir.file("texts.msg");
  // A long first text puts the later texts and entries beyond the page that opening reads.
  ASSERT_EQ(write_message_file(path, {{TMX_EXC_NONE, " " + std::string(3000, 'x')},
                                      {OTM_NOTFOUND, " eins\n"},
                                      {DOF_READ_ERR, " Lesefehler %s\n"},
                                      {OTM_NULLPOINTER, " null\n"}}),
            0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);
  platform::FileIo failing = platform::system_file_io();
  failing.read_at = failing_read;
  g_reads = 0;
  g_fail_from = 1;
  platform::set_file_io(&failing);
  mpm_DiscardPending(0);
  mpm_IssueMessage(MPM_NO_HEADER, OTM_NOTFOUND, MPM_ERROR);
  platform::set_file_io(nullptr);
  EXPECT_EQ(pending_texts(), (std::vector<std::string>{"Object not found\n",
                                                       "*** Error (DOF_READ_ERR) ***\nError reading from file " +
                                                           path + ".\n"}));
  EXPECT_EQ(g_reads, 1);
  EXPECT_EQ(text_of(OTM_NULLPOINTER), " NULL pointer\n");  // no longer consulted
  ASSERT_EQ(mpm_CloseMessageFile(0), 0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, path.c_str()), 0u);  // opened again, it is read again
  EXPECT_EQ(text_of(OTM_NULLPOINTER), " null\n");
}

TEST_F(MessageFileTest, OpeningAnotherFileClosesTheFirstAndStopClosesTheLast) {
  TempDir dir;
  ASSERT_EQ(write_message_file(dir.file("a.msg"), {{OTM_NOTFOUND, " A\n"}}), 0u);
  ASSERT_EQ(write_message_file(dir.file("b.msg"), {{OTM_NOTFOUND, " B\n"}}), 0u);
  ASSERT_EQ(mpm_OpenMessageFile(0, dir.file("a.msg").c_str()), 0u);
  EXPECT_EQ(text_of(OTM_NOTFOUND), " A\n");
  ASSERT_EQ(mpm_OpenMessageFile(0, dir.file("b.msg").c_str()), 0u);
  EXPECT_EQ(text_of(OTM_NOTFOUND), " B\n");
  // tmx_Terminate (in TearDown) closes it; a new start has none.
  tmx_Terminate(0);
  EXPECT_EQ(mpm_message_file, nullptr);
  tmx_Initialize(0);
  EXPECT_EQ(text_of(OTM_NOTFOUND), " Object not found\n");
}

}  // namespace
}  // namespace tesmar::test
