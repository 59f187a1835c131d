// The folder of a module's URL (import.meta.url), for the files that lie beside it.
export function folderOf(url) {
  return url.replace(/[^/]*$/, "");
}
