// The crash-report facility: a one-line description of the exception being
// handled on the calling thread, for the host's log.
#pragma once

#include <string>

namespace tarvel {

// DescribeCurrentException returns "<type>: <message>" for the exception
// being handled (call it inside a catch block); "" when there is none.
std::string DescribeCurrentException();

}  // namespace tarvel
