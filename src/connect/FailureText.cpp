#include "connect/FailureText.h"

#include "connect/umessage.h"

namespace kz {

std::string ConnectionFailureText(std::uint8_t errorKind, const std::string& podDescription) {
  switch (errorKind) {
    case 0:
      return GetMessage(1674);
    case 1:
      return GetMessage(1661);
    case 3:
      return GetMessage(1667);
    case 5:
      return GetMessage(1664) + ": " + podDescription;
    case 6:
      return GetMessage(1665);
    case 7:
      return GetMessage(1666);
    default:
      return GetMessage(1668);
  }
}

}  // namespace kz
