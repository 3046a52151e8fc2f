#pragma once
// The watermarking of a document to print runs in a process of its own: a
// document may ask qpdf for any amount of work, and only a process can be
// held to a bound on time and memory, and ended at once when the window
// closes. The process is the player's own program in a mode of its own.
#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <string>

#include "common/text.h"
#include "player/pdf_watermark.h"

// What one watermarking may cost: processor time, memory (the process's
// address space, program included) and time on the clock.
inline constexpr int kWatermarkCpuSeconds = 20;
inline constexpr std::size_t kWatermarkMemoryBytes = std::size_t{1} << 30;
inline constexpr int kWatermarkWallMs = 60000;

// A print's way to be called off from the user-interface thread while its
// worker thread fetches, watermarks or sends: once cancelled, the worker's
// process is killed and nothing more is started or sent.
class PrintCancel {
public:
    void Cancel();
    bool Cancelled();

private:
    friend class WatermarkProcess;
    std::mutex lock_;
    bool cancelled_ = false;
    pid_t child_ = 0; // the watermarking process while it runs, not yet reaped
};

// WatermarkPdf in the process, within the bounds above. Fails (ok false) when
// the process could not start, went over a bound or was cancelled.
WatermarkedPdf WatermarkPdfInProcess(const std::string& document, const WString& watermark, PrintCancel& cancel);

// The process's side: argv is the program and kWatermarkMode; the document
// comes on standard input (a seekable file), the watermark (UTF-8) on
// descriptor 3; the watermarked document goes to descriptor 4 and the answer
// (its title, or why not) to standard output.
inline constexpr char kWatermarkMode[] = "--watermark-pdf-for-print";
bool IsWatermarkMode(int argc, char** argv);
int RunWatermarkProcess(int argc, char** argv);
