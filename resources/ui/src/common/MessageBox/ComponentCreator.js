// The dialog page's body: the component that its opener named, with the opener's props.
import { folderOf } from "../paths.js";

const kHere = folderOf(import.meta.url);

export function ComponentCreator(props) {
  return JSX("body", { class: "dialog", styleset: kHere + "MessageBox.css#Dialog" }, [
    JSX(props.component, props.props || {}, []),
  ]);
}
