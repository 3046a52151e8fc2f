#pragma once
// Printing a PDF document (its bytes in memory) on a Windows printer through
// Windows' own PDF support: Windows.Data.Pdf reads the document and draws each
// page into a Direct2D command list, which Direct2D's print control turns into
// an XPS page of the job. The printer gets the text as glyphs and the drawings
// as vectors, never a picture of the page, whatever the printer (also
// "Microsoft Print to PDF"). Windows 8.1 and later; under Wine none of it
// exists, and the answer says so.
#include <functional>
#include <string>

struct WindowsPdfPrint {
    bool available = false; // Windows' PDF rendering (or Direct2D printing) exists here; false under Wine
    bool printed = false;   // every page went to the job and the job was closed
    std::string error;      // why not, for the log
};

// Prints pdf on printer as one job named jobName, each page at its own size.
// Blocks until the job is handed to the spooler (or given up): call it on a
// worker thread of its own, never on a user interface thread. It joins that
// thread to the multithreaded COM apartment for the time of the call and
// leaves it as it was; a thread already in a single-threaded apartment is
// refused (available false, nothing printed).
// calledOff is asked while the document loads and between pages; once it
// answers true the job begun is cancelled, so no part of the document prints.
// A document Windows cannot read, or a printer refusing the job, gives
// available true and printed false.
WindowsPdfPrint PrintPdfWithWindows(const std::string& pdf, const std::wstring& printer, const std::wstring& jobName,
                                    const std::function<bool()>& calledOff);
