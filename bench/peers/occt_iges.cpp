// The peer of the translation benchmark (bench/translate.sh): OCCT's IGES reader on the same file.
//   occt_iges FILE read       IGESControl_Reader::ReadFile
//   occt_iges FILE transfer   ReadFile, then TransferRoots (the shapes made)
// Prints the entities read and, for transfer, the shapes made; the caller measures time and memory.
#include <IGESControl_Reader.hxx>
#include <Interface_Static.hxx>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (argc != 3 || (std::strcmp(argv[2], "read") != 0 && std::strcmp(argv[2], "transfer") != 0)) {
    std::fprintf(stderr, "usage: occt_iges FILE read|transfer\n");
    return 2;
  }
  IGESControl_Reader reader;
  if (reader.ReadFile(argv[1]) != IFSelect_RetDone) {
    std::fprintf(stderr, "occt_iges: %s: not read\n", argv[1]);
    return 1;
  }
  std::printf("entities %d\n", reader.NbRootsForTransfer());
  if (std::strcmp(argv[2], "transfer") == 0) {
    reader.TransferRoots();
    std::printf("shapes %d\n", reader.NbShapes());
  }
  return 0;
}
