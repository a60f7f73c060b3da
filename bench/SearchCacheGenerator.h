#pragma once
// The generated cache the offline search benchmarks read: 4 sites of 25,000 folders, every
// folder listing 10 names (1,000,000 names in all). Generated once into the system's
// temporary folder and kept for later runs; delete the folder to generate it again.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace searchbench {

namespace fs = std::filesystem;

constexpr int kSites = 4;
constexpr int kFoldersPerSite = 25000;
constexpr int kNamesPerFolder = 10;

// Each site is a tree in which folder i has the subfolders 3i+1 to 3i+3; every folder
// lists ten names, its subdirectories among them.
inline std::string FolderPath(const std::string& site, int folder)
{
    std::vector<int> chain;
    for (int i = folder; i > 0; i = (i - 1) / 3)
        chain.push_back(i);
    std::string path = site;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        path += "/dir_" + std::to_string(*it);
    return path;
}

inline std::string ListingOf(int folder)
{
    std::string text;
    char line[128];
    int names = 0;
    for (int child = 3 * folder + 1; child <= 3 * folder + 3 && child < kFoldersPerSite; ++child, ++names) {
        std::snprintf(line, sizeof line, "drwxr-xr-x   2 mirror   users        4096 Mar  3  2015 dir_%d\r\n", child);
        text += line;
    }
    for (; names < kNamesPerFolder; ++names) {
        std::snprintf(line, sizeof line, "-rw-r--r--   1 mirror   users    %8d Jan 15 10:30 file_%d_%d.%s\r\n",
                      folder * 7 + names, folder, names, names % 2 ? "txt" : "dat");
        text += line;
    }
    return text;
}

inline const std::string& GeneratedCache()
{
    static const std::string home = [] {
        const fs::path root = fs::temp_directory_path() / "tollvane-bench-search-cache";
        const fs::path done = root.string() + ".complete";
        if (!fs::exists(done)) {
            fs::remove_all(root);
            for (int site = 0; site < kSites; ++site) {
                const std::string siteName = "site" + std::to_string(site) + ".example.com";
                for (int folder = 0; folder < kFoldersPerSite; ++folder) {
                    const fs::path path = root / FolderPath(siteName, folder);
                    fs::create_directories(path);
                    std::ofstream(path / "files.lis", std::ios::binary) << ListingOf(folder);
                }
            }
            std::ofstream(done) << "generated\n";
        }
        return root.string();
    }();
    return home;
}

// The pattern the benchmarks search for.
inline constexpr char kPattern[] = "file_*7_?.txt";

} // namespace searchbench
