#pragma once
// The two ways to reach a register's memory, and their names in files and on
// command lines. Nothing else of the project is needed to name a link, so a
// front end or a simulator may read the word without the session.

#include <optional>
#include <string_view>

namespace kkm::service {

enum class Link { Processor, Kia };

// "cpu" or "kia".
constexpr const char* LinkName(Link link) { return link == Link::Processor ? "cpu" : "kia"; }

// The link a word names, as LinkName writes it; nothing for any other word.
constexpr std::optional<Link> ParseLink(std::string_view word) {
  for (const Link link : {Link::Processor, Link::Kia})
    if (word == LinkName(link)) return link;
  return std::nullopt;
}

}  // namespace kkm::service
