// One transfer as the installer makes it, for bench/transfer/run to time against the real tools:
//   transfer_bench download BASE_URL NAME TARGET   Downloader::downloadToFile of BASE_URL/NAME
//   transfer_bench md5 FILE                        util::md5_file_string, printed like md5sum
#include "common/runtime/error.h"
#include "common/runtime/md5rep.h"
#include "installer/sources/Downloader.h"

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    try {
        if (argc == 5 && strcmp(argv[1], "download") == 0) {
            std::unique_ptr<Downloader> downloader = Downloader::create(argv[3]);
            downloader->addSource(argv[2]);
            downloader->downloadToFile(argv[4]);
            return 0;
        }
        if (argc == 3 && strcmp(argv[1], "md5") == 0) {
            const std::string digest = util::md5_file_string(argv[2]);
            if (digest.empty()) {
                std::cerr << "cannot read " << argv[2] << "\n";
                return 1;
            }
            std::cout << digest << "  " << argv[2] << "\n";
            return 0;
        }
    } catch (const error& e) {
        std::cerr << e.getText();
        return 1;
    }
    std::cerr << "usage: transfer_bench download BASE_URL NAME TARGET | md5 FILE\n";
    return 2;
}
