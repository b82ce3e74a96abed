// Every file the program opens or saves goes through these two: the reader
// or writer is chosen by the file's extension (any case), and an opened
// store gets its first views.
#pragma once

#include "formats/FilePath.h"

class CTraceMgr;
class CTraceView;

// Readers, by extension: log and txt (an ISO-timestamped log when the
// sniffer says so, else tab-separated text), htm and html, jslog, kdv, kmp,
// zip, klg; anything else, or no extension, is a KELT image (.ktr).
enum class OpenReader { Ktr, TextOrIsoLog, Html, JsLog, Kdv, Kmp, Zip, Klg };
// Writers: log and txt text, htm and html HTML, zip; anything else a .ktr.
enum class SaveWriter { Ktr, Text, Html, Zip };

OpenReader OpenReaderFor(const wchar_t* path);
SaveWriter SaveWriterFor(const wchar_t* path);

// Loads the file into the store (a fresh file store): records the path,
// runs the reader, then adds the view over every group when the records
// belong to other than exactly one group, and one view per group in table
// order, and orders the views after the first by their error, warning,
// information and debug counts. 1; 0 when the reader failed (the records it
// read before the fault stay in the store), stored no buffer, or a view
// could not be added.
int OpenFile(CTraceMgr* store, const wchar_t* path);

// Writes the whole store (view null) or one view to the path with the
// writer of its extension. 1 or 0; a failed save keeps the old file.
int SaveFile(CTraceMgr* store, const wchar_t* path, CTraceView* view);
