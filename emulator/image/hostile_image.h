// A receiver disk image that holds, in one place, every kind of damage and awkward entry the
// tools must survive: names longer than a path may be, damaged chains, names the path syntax
// cannot address, a root file for two handles, and folders reachable more than once.
//
// Layout (Windows-1252 bytes; "\" separates components, any other byte is part of a name):
//   C:\shared.bin                    70 000 bytes of 's', sound, in the root
//   C:\long\<32 x 'A'>\<32 x 'B'>\ ... 16 nested folders of 32-byte names ('A' to 'P'), the
//                                    path reaching 536 bytes; the last holds deep.txt
//                                    ("deep\n")
//   C:\long\<32-byte name>.txt       a file whose name fills all 32 bytes
//   C:\chains\intact.bin             100 000 bytes of 'i', sound (4 clusters)
//   C:\chains\ends_early.bin         size 100 000, the chain ends after its first cluster
//   C:\chains\zero_link.bin          size 100 000, its first cluster's link is 0
//   C:\chains\into_free.bin          size 100 000, the second cluster links to a free cluster
//   C:\chains\out_of_range.bin       size 100 000, first cluster 0x10000 (beyond the table)
//   C:\chains\no_cluster.bin         size 1 000, first cluster 0
//   C:\chains\loop.bin               size 100 000, the third cluster links back to the first
//   C:\names\ab                      1 000 bytes of 'a', sound
//   C:\names\ab<05>zz                1 000 bytes of 'c': a control byte inside the name
//   C:\names\<05>ab                  1 000 bytes of 'd': the name starts with a control byte
//   C:\names\a\b  (one name)         1 000 bytes of 'e': a backslash inside the name
//   C:\names\a/b  (one name)         1 000 bytes of 'f': a slash inside the name
//   C:\names\.    (a file)           1 000 bytes of 'g', an entry beyond the first two
//   C:\names\..   (a file)           1 000 bytes of 'h', likewise
//   C:\names\..\..\up (one name)     a folder holding escape.txt ("escape\n")
//   C:\graphs\p1\child               a folder holding kid.txt ("kid\n")
//   C:\graphs\p2\child               the same folder cluster as p1\child: two parents
//   C:\graphs\self\again             names the folder self itself
//   C:\graphs\up\root                names the root folder (cluster 0)
//   C:\graphs\nest\dNN ... six folders deep: nest and the folders below it each hold 40
//                                    folder entries d00 to d39 that all name the same next
//                                    folder; the sixth level below nest holds leaf.txt
//                                    ("leaf\n")
// The clusters the damaged entries gave up are freed, so the chains above are the only damage
// besides the graphs and names.
#pragma once

#include <string>

namespace image {

inline constexpr uint64_t kHostileImageBytes = 64ull << 20;
inline constexpr uint32_t kHostileClusterBytes = 32768;

// Fills a freshly made, unmounted image with the layout above (it needs about 10 MiB). False
// with a reason on failure.
bool FillHostileContent(const std::string& image_path, std::string* error);

}  // namespace image
