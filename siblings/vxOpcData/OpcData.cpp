// vxOpcData.dll: the program loads it and resolves these entries but never calls them; they do nothing.
extern "C" {
int InitOpcDataDLL(void) { return 0; }
int ReadTag(void) { return 0; }
int WriteTag(void) { return 0; }
}
