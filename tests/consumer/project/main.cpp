// A program that uses the installed library the way an application would.
#include <Framework/Types.h>

int main() {
  Framework::UnicodeString text = u"Corvane";
  return text.size() == 7 ? 0 : 1;
}
