#include "client/mainwindow/pageguard.h"

namespace pageguard {

void Guard::Began(Origin origin) {
  previous_ = origin_;
  origin_ = origin;
  leaving_ = false;
}

Step Guard::Shown(std::u16string_view location) {
  // Nothing shown yet, or the rest of a navigation already left.
  if (location.empty() || leaving_) return {};
  const navpolicy::Verdict verdict = navpolicy::ForNavigation({location, navpolicy::Kind::kArrived}, site_);
  if (verdict == navpolicy::Verdict::kStay) {
    lastShown_ = navpolicy::Encoded(location);
    return {};
  }
  Step step;
  step.leave = true;
  leaving_ = true;
  const std::u16string address = navpolicy::Encoded(location);
  const bool again = origin_ == Origin::kPage && previous_ == Origin::kReturn && address == handedOn_;
  // Going back loads the page again: not for a site that hands nothing on
  // (the statistics page would count a second time).
  if (origin_ == Origin::kPage && !again && !lastShown_.empty() && site_.HandsOn()) {
    step.go = lastShown_;
  } else {
    step.go = u"about:blank";
    step.blank = true;
  }
  if (verdict == navpolicy::Verdict::kDefaultBrowser && origin_ != Origin::kReturn && !again) {
    step.handOff = address;
    handedOn_ = address;
  }
  return step;
}

}  // namespace pageguard
