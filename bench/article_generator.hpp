// Realistic article tables as 1C sends them to UploadTable: Cyrillic names,
// apostrophes and ampersands, empty attributes, and a "Coefficient" column
// whose package records share their name with a base record. Deterministic
// for a given seed, so runs compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtsd::bench {

struct ArticleTableOptions {
  size_t records = 100000;
  // Attributes per record, 1 ... 15, in the order Articule, name, unit,
  // characteristic ("Feature"), series, quality ("Grade"), price, quantity
  // ("Qty"), Coefficient, and further extra fields.
  int attributes = 9;
  // Every this-many base records, one package record follows (0: none).
  // Package records carry a coefficient above 1 and their base's name.
  size_t package_every = 10;
  uint32_t seed = 20261210;
  // Articule numbers start here, so that several packages of one upload
  // hold different articles.
  uint64_t first_number = 1;
};

// The XML text of one package: <Table> with one <Record .../> per record.
std::string GenerateArticleTable(const ArticleTableOptions& options);

}  // namespace vtsd::bench
