// "{0} of {1}".format(a, b): numbered placeholders in braces filled with the arguments; a
// placeholder without an argument stays as it is.
if (!String.prototype.format) {
  String.prototype.format = function (...args) {
    return this.replace(/\{(\d+)\}/g, (whole, index) => (index < args.length ? String(args[index]) : whole));
  };
}
