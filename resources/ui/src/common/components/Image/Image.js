export function Image(props) {
  return JSX("img", {
    class: props.class,
    src: props.src,
    width: props.width,
    height: props.height,
    alt: props.alt ?? "",
  }, []);
}
