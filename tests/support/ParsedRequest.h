#pragma once
// A reader request as the dispatcher hands it to a route. Text that does not
// parse still arrives whole, so a route can show what it does with it.

#include <string_view>

#include "net/Request.h"
#include "net/RequestParser.h"

namespace tav::test {

inline Request Parsed(std::string_view text) {
  Request request;
  if (ParseRequestHeader(text, request, true) != 0) {
    request.text.assign(text);
    request.requestLine.assign(FirstLine(text, 4095));
  }
  return request;
}

}  // namespace tav::test
