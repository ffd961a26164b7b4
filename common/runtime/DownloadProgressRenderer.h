#pragma once

#include "common/runtime/ProgressValue.h"

#include <memory>
#include <string>

// Draws the console line of a download: file count, file name, then the percentage, the retry
// message or a final text. The log file gets one full line whenever the kind of line changes.
class DownloadProgressRenderer : public ProgressValueObserver,
                                 public std::enable_shared_from_this<DownloadProgressRenderer> {
public:
    using counter_ptr = std::shared_ptr<ProgressValue<unsigned long>>;

    // Counts one file while it downloads and ends its line when the download is over.
    class FileScope {
    public:
        FileScope(std::shared_ptr<DownloadProgressRenderer> renderer, const std::string& file_name);
        FileScope(const FileScope&) = delete;
        FileScope& operator=(const FileScope&) = delete;
        ~FileScope();

        std::shared_ptr<DownloadProgressRenderer> renderer;
        bool completed = false; // set by the owner once the file has arrived
    };

    static std::shared_ptr<DownloadProgressRenderer> create();

    // Shares a file counter with other downloads, so that "(n of m)" runs across all of them.
    void setFilesProgress(const counter_ptr& files);
    void setFileProgress(const counter_ptr& bytes, const counter_ptr& retries);
    void update() override;
    void finish(bool completed);

    // No console line at all; kind changes still reach the log.
    bool quiet = false;

private:
    enum kind { kind_none = 0, kind_percentage = 1, kind_retry = 2, kind_final = 3 };

    DownloadProgressRenderer() = default;
    void render(const std::string& final_text);

    int line_kind = kind_none;
    counter_ptr files;
    counter_ptr retries;
    counter_ptr bytes;
};
