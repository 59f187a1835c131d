// A library where the engine should be: without the export, or with one that gives no table.
#ifdef EXPORT_NULL_TABLE
extern "C" const void* SciterAPI() { return nullptr; }
#else
extern "C" int SomethingElse() { return 0; }
#endif
