// Reads a Page's fields in tests.

#ifndef VAVIZAR_TESTS_PAGE_TEST_PEER_H_
#define VAVIZAR_TESTS_PAGE_TEST_PEER_H_

#include "component/page.h"

namespace vz {

class PageTestPeer {
 public:
  static const Text& TempletRoot(const Page& page) { return page.m_TempletRoot; }
  static Text& Errors(Page& page) { return page.m_Errors; }
  static ado::Connection* Conn(const Page& page) { return page.m_Conn.get(); }
};

}  // namespace vz

#endif  // VAVIZAR_TESTS_PAGE_TEST_PEER_H_
