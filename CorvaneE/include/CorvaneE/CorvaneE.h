// The design-time unit: what a form designer needs to offer the runtime
// unit's components. Nothing here runs in an application; the design-time
// package (CorvaneP) carries it, and a designer host calls Register when it
// loads that package.
#pragma once

namespace CorvaneE {

/// Puts TINetConnection, TINetSession, TINetFtp, TINetHttp, TINetUrl and
/// TINetCookie, in that order, on the palette page "Ostrel", and registers
/// the port editor for the Port property of the FTP, HTTP and URL
/// components: it shows a port by the name of its well-known service
/// ("HTTP" for 80) or in decimal, and takes a service name (exact, upper
/// case) or a number from 0 to 65535.
void Register();

}  // namespace CorvaneE
