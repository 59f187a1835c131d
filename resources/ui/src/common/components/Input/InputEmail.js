// A text field for an e-mail address: an empty one counts as invalid.
import { isEmailValid } from "../../validators.js";
import { Input } from "./Input.js";

export function InputEmail(props) {
  return JSX(Input, Object.assign({}, props, { type: "text", validator: (value) => isEmailValid(value) }), []);
}
