const kEmailPattern = /^[\w-\.]+@([\w-]+\.)+[\w-]{2,6}$/;

export function isEmailValid(email, allowEmpty = false) {
  if (allowEmpty && email === "") {
    return true;
  }
  return kEmailPattern.test(email);
}
