// Windows: the entry of the map tools. Paths typed at a command prompt use
// '\' separators; the tools take paths apart at '/', which the C runtime
// accepts as well, so every '\' of the arguments is handed on as '/'.
int WinToolMain(int argc, char** argv);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; i++)
    for (char* c = argv[i]; *c; c++)
      if (*c == '\\') *c = '/';
  return WinToolMain(argc, argv);
}
